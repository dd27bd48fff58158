#include "web/testing/loopback_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <condition_variable>
#include <csignal>
#include <list>
#include <thread>

namespace telvoro::testing {

namespace {

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

std::string_view TrimView(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

// Value of the first header line `name:` in a head block (request or response), case-blind.
std::string HeaderIn(std::string_view head, std::string_view name) {
  std::size_t lineStart = head.find('\n');  // skip the request or status line
  while (lineStart != std::string_view::npos && lineStart + 1 < head.size()) {
    const std::size_t begin = lineStart + 1;
    const std::size_t end = head.find('\n', begin);
    const std::string_view line = head.substr(begin, end == std::string_view::npos ? head.size() - begin : end - begin);
    const std::size_t colon = line.find(':');
    if (colon != std::string_view::npos && EqualsNoCase(TrimView(line.substr(0, colon)), name)) {
      return std::string(TrimView(line.substr(colon + 1)));
    }
    lineStart = end;
  }
  return {};
}

const char* ReasonPhrase(int status) {
  switch (status) {
    case 200: return "OK";
    case 204: return "No Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 303: return "See Other";
    case 304: return "Not Modified";
    case 307: return "Temporary Redirect";
    case 308: return "Permanent Redirect";
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    case 502: return "Bad Gateway";
    case 503: return "Service Unavailable";
    default: return "Status";
  }
}

// The path of a request target: "/a" of "/a?b" and of "http://host/a?b".
std::string PathOf(const std::string& target) {
  std::string_view t = target;
  if (const std::size_t scheme = t.find("://"); scheme != std::string_view::npos && t.front() != '/') {
    const std::size_t slash = t.find('/', scheme + 3);
    t = slash == std::string_view::npos ? std::string_view("/") : t.substr(slash);
  }
  t = t.substr(0, t.find_first_of("?#"));
  return std::string(t);
}

// One connection's byte stream, plain or TLS.
class Stream {
 public:
  Stream(int fd, SSL* ssl) : fd_(fd), ssl_(ssl) {}
  // Bytes read, 0 at the end or on failure.
  std::size_t Read(char* buffer, std::size_t size) {
    if (ssl_ != nullptr) {
      const int n = SSL_read(ssl_, buffer, static_cast<int>(std::min<std::size_t>(size, 1 << 20)));
      return n > 0 ? static_cast<std::size_t>(n) : 0;
    }
    for (;;) {
      const ssize_t n = ::recv(fd_, buffer, size, 0);
      if (n < 0 && errno == EINTR) continue;
      return n > 0 ? static_cast<std::size_t>(n) : 0;
    }
  }
  bool WriteAll(std::string_view bytes) {
    while (!bytes.empty()) {
      const std::size_t chunk = std::min<std::size_t>(bytes.size(), 1 << 20);
      if (ssl_ != nullptr) {
        const int n = SSL_write(ssl_, bytes.data(), static_cast<int>(chunk));
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
      } else {
        const ssize_t n = ::send(fd_, bytes.data(), chunk, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
      }
    }
    return true;
  }

 private:
  int fd_;
  SSL* ssl_;
};

}  // namespace

std::string RecordedRequest::Header(std::string_view name) const { return HeaderIn(head, name); }

struct LoopbackServer::Impl {
  struct Connection {
    int fd = -1;
    std::thread thread;
    std::atomic<bool> done{false};
  };
  SSL_CTX* tls = nullptr;
  std::thread acceptor;
  std::mutex connectionsMutex;
  std::list<Connection> connections;
  std::atomic<bool> stopping{false};
  std::mutex stallMutex;
  std::condition_variable stallCv;

  ~Impl() {
    if (tls != nullptr) SSL_CTX_free(tls);
  }
  // Joins the threads of connections that have ended.
  void Reap() {
    std::lock_guard lock(connectionsMutex);
    for (auto it = connections.begin(); it != connections.end();) {
      if (it->done) {
        it->thread.join();
        ::close(it->fd);
        it = connections.erase(it);
      } else {
        ++it;
      }
    }
  }
};

LoopbackServer::LoopbackServer(std::uint16_t port) : impl_(std::make_unique<Impl>()) { Start(port); }

LoopbackServer::LoopbackServer(std::uint16_t port, TlsFiles tls) : impl_(std::make_unique<Impl>()) {
  // A client that goes away mid-write must not end the test process; TLS
  // writes go through write(2), which has no MSG_NOSIGNAL.
  std::signal(SIGPIPE, SIG_IGN);
  SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
  if (ctx == nullptr || SSL_CTX_use_certificate_chain_file(ctx, tls.certFile.c_str()) != 1 ||
      SSL_CTX_use_PrivateKey_file(ctx, tls.keyFile.c_str(), SSL_FILETYPE_PEM) != 1) {
    if (ctx != nullptr) SSL_CTX_free(ctx);
    ERR_clear_error();
    return;  // not ok()
  }
  impl_->tls = ctx;
  Start(port);
}

void LoopbackServer::Start(std::uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return;
  const int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  socklen_t length = sizeof address;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 64) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    ::close(fd);
    return;
  }
  wakeFd_ = ::eventfd(0, EFD_CLOEXEC);
  if (wakeFd_ < 0) {
    ::close(fd);
    return;
  }
  listenFd_ = fd;
  port_ = ntohs(address.sin_port);
  impl_->acceptor = std::thread([this] { AcceptLoop(); });
}

LoopbackServer::~LoopbackServer() {
  impl_->stopping = true;
  if (wakeFd_ >= 0) {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(wakeFd_, &one, sizeof one);
  }
  {
    std::lock_guard lock(impl_->stallMutex);
  }
  impl_->stallCv.notify_all();
  if (impl_->acceptor.joinable()) impl_->acceptor.join();
  {
    // Wake every connection thread that waits for bytes.
    std::lock_guard lock(impl_->connectionsMutex);
    for (auto& c : impl_->connections) {
      ::shutdown(c.fd, SHUT_RDWR);
    }
  }
  for (auto& c : impl_->connections) {
    c.thread.join();
    ::close(c.fd);
  }
  impl_->connections.clear();
  if (listenFd_ >= 0) ::close(listenFd_);
  if (wakeFd_ >= 0) ::close(wakeFd_);
}

std::string LoopbackServer::Origin() const {
  return std::string(impl_->tls != nullptr ? "https" : "http") + "://127.0.0.1:" + std::to_string(port_);
}

void LoopbackServer::Serve(const std::string& target, std::string responseBytes) {
  Serve(target, CannedReply{std::move(responseBytes)});
}

void LoopbackServer::Serve(const std::string& target, CannedReply reply) {
  std::lock_guard lock(mutex_);
  routes_[target] = Route{nullptr, std::make_shared<const CannedReply>(std::move(reply))};
}

void LoopbackServer::Serve(const std::string& target, Handler handler) {
  std::lock_guard lock(mutex_);
  routes_[target] = Route{std::move(handler), nullptr};
}

void LoopbackServer::ServeDefault(Handler handler) {
  std::lock_guard lock(mutex_);
  default_ = std::move(handler);
}

std::vector<RecordedRequest> LoopbackServer::Requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

std::size_t LoopbackServer::RequestCount() const {
  std::lock_guard lock(mutex_);
  return requests_.size();
}

void LoopbackServer::ClearRequests() {
  std::lock_guard lock(mutex_);
  requests_.clear();
}

std::size_t LoopbackServer::ConnectionCount() const {
  std::lock_guard lock(mutex_);
  return connections_;
}

void LoopbackServer::AcceptLoop() {
  for (;;) {
    pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (impl_->stopping || (fds[1].revents & POLLIN) != 0) return;
    if ((fds[0].revents & POLLIN) == 0) continue;
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    {
      std::lock_guard lock(mutex_);
      ++connections_;
    }
    impl_->Reap();
    std::lock_guard lock(impl_->connectionsMutex);
    auto& c = impl_->connections.emplace_back();
    c.fd = fd;
    c.thread = std::thread([this, &c] {
      ServeConnection(c.fd);
      c.done = true;  // the descriptor is closed once the thread is joined
    });
  }
}

std::shared_ptr<const CannedReply> LoopbackServer::Answer(const RecordedRequest& request) {
  Route route;
  {
    std::lock_guard lock(mutex_);
    requests_.push_back(request);
    auto it = routes_.find(request.target);
    if (it == routes_.end()) it = routes_.find(PathOf(request.target));
    if (it != routes_.end()) {
      route = it->second;
    } else {
      route.handler = default_;
    }
  }
  if (route.canned) return route.canned;
  if (route.handler) return std::make_shared<const CannedReply>(route.handler(request));
  return std::make_shared<const CannedReply>(CannedReply{HttpResponse(404, "not found\n")});
}

void LoopbackServer::ServeConnection(int fd) {
  SSL* ssl = nullptr;
  if (impl_->tls != nullptr) {
    ssl = SSL_new(impl_->tls);
    if (ssl == nullptr) return;
    SSL_set_fd(ssl, fd);
    if (SSL_accept(ssl) != 1) {
      SSL_free(ssl);
      ERR_clear_error();
      return;
    }
  }
  Stream stream(fd, ssl);
  std::string pending;
  char buffer[64 * 1024];
  bool open = true;
  while (open && !impl_->stopping) {
    // One request: the head up to the empty line, then Content-Length bytes of body.
    std::size_t headEnd;
    while ((headEnd = pending.find("\r\n\r\n")) == std::string::npos) {
      const std::size_t n = stream.Read(buffer, sizeof buffer);
      if (n == 0) {
        open = false;
        break;
      }
      pending.append(buffer, n);
    }
    if (!open) break;
    RecordedRequest request;
    request.tls = ssl != nullptr;
    request.head = pending.substr(0, headEnd + 4);
    const std::size_t firstSpace = request.head.find(' ');
    const std::size_t secondSpace = request.head.find(' ', firstSpace == std::string::npos ? 0 : firstSpace + 1);
    if (firstSpace != std::string::npos && secondSpace != std::string::npos) {
      request.method = request.head.substr(0, firstSpace);
      request.target = request.head.substr(firstSpace + 1, secondSpace - firstSpace - 1);
    }
    std::size_t bodyLength = 0;
    if (const std::string length = HeaderIn(request.head, "Content-Length"); !length.empty()) {
      bodyLength = static_cast<std::size_t>(std::strtoull(length.c_str(), nullptr, 10));
    }
    while (pending.size() < headEnd + 4 + bodyLength) {
      const std::size_t n = stream.Read(buffer, sizeof buffer);
      if (n == 0) {
        open = false;
        break;
      }
      pending.append(buffer, n);
    }
    const std::size_t requestEnd = std::min(pending.size(), headEnd + 4 + bodyLength);
    request.body = pending.substr(headEnd + 4, requestEnd - headEnd - 4);
    request.raw = pending.substr(0, requestEnd);
    pending.erase(0, requestEnd);
    const bool clientCloses = EqualsNoCase(HeaderIn(request.head, "Connection"), "close");

    const std::shared_ptr<const CannedReply> answer = Answer(request);
    const CannedReply& reply = *answer;
    if (!stream.WriteAll(reply.bytes)) break;
    if (reply.then == CannedReply::kStall) {
      std::unique_lock lock(impl_->stallMutex);
      impl_->stallCv.wait(lock, [this] { return impl_->stopping.load(); });
      break;
    }
    if (reply.then == CannedReply::kClose || clientCloses || !open) break;
    const std::size_t replyHeadEnd = reply.bytes.find("\r\n\r\n");
    const std::string_view replyHead =
        std::string_view(reply.bytes).substr(0, replyHeadEnd == std::string::npos ? reply.bytes.size() : replyHeadEnd + 2);
    const bool delimited = !HeaderIn(replyHead, "Content-Length").empty() ||
                           EqualsNoCase(HeaderIn(replyHead, "Transfer-Encoding"), "chunked");
    if (!delimited || EqualsNoCase(HeaderIn(replyHead, "Connection"), "close")) break;
  }
  if (ssl != nullptr) {
    SSL_shutdown(ssl);
    SSL_free(ssl);
    ERR_clear_error();
  }
  ::shutdown(fd, SHUT_WR);
}

std::string HttpResponse(int status, std::string_view body, std::string_view extraHeaderLines) {
  std::string out = "HTTP/1.1 " + std::to_string(status) + " " + ReasonPhrase(status) + "\r\n";
  out += extraHeaderLines;
  out += "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n";
  out += body;
  return out;
}

}  // namespace telvoro::testing
