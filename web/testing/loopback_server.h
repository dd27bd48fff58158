#pragma once
// A small HTTP/1.1 (and HTTPS) server on 127.0.0.1 for tests and benchmarks.
//
// It records every request byte for byte and answers with canned responses:
// full response bytes (status line, header lines, empty line, body) that it
// writes out unchanged. Each connection runs on its own thread; the destructor
// stops the server, ends every open connection (stalled ones included) and
// joins its threads.
//
//   LoopbackServer server;                       // 127.0.0.1, ephemeral port
//   server.Serve("/page.html", HttpResponse(200, "<html>...</html>"));
//   server.Serve("/slow", [](const RecordedRequest&) { return CannedReply{"", CannedReply::kStall}; });
//   ... fetch server.Origin() + "/page.html" ...
//   server.Requests()[0].raw == "GET /page.html HTTP/1.1\r\nHost: ...\r\n\r\n"
//
// Replies are looked up by the request target as it stands on the request
// line ("/a?b=1", or "http://host/a?b=1" through a proxy), then by its path
// alone (query and an absolute URI's scheme and host taken away), then the
// default handler; with none of these the answer is a 404.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace telvoro::testing {

struct RecordedRequest {
  std::string raw;     // every byte of the request: request line, header lines, empty line, body
  std::string method;  // "GET"
  std::string target;  // "/a?b=1" or, through a proxy, "http://host/a?b=1"
  std::string head;    // request line and header lines up to and including the empty line
  std::string body;    // as delimited by Content-Length
  bool tls = false;    // arrived over TLS

  // Value of the first header line with this name (case-blind), trimmed; empty when none.
  std::string Header(std::string_view name) const;
};

struct CannedReply {
  enum Then {
    kAuto,   // keep the connection when the reply has a Content-Length or is chunked, else close it
    kClose,  // close the connection after the reply
    kStall,  // send nothing more and keep the connection open until the server stops
  };
  std::string bytes;  // the whole response as it goes on the wire (may be empty)
  Then then = kAuto;
};

class LoopbackServer {
 public:
  using Handler = std::function<CannedReply(const RecordedRequest&)>;
  struct TlsFiles {
    std::string certFile;  // PEM certificate (chain) of the server
    std::string keyFile;   // PEM private key
  };

  // Listens on 127.0.0.1:port (0: an ephemeral port); see ok().
  explicit LoopbackServer(std::uint16_t port = 0);
  // The same, speaking TLS with the given certificate.
  LoopbackServer(std::uint16_t port, TlsFiles tls);
  ~LoopbackServer();
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  bool ok() const { return listenFd_ >= 0; }  // false when the port could not be bound
  std::uint16_t port() const { return port_; }
  // "http://127.0.0.1:PORT" (https for a TLS server), without a trailing slash.
  std::string Origin() const;

  void Serve(const std::string& target, std::string responseBytes);
  void Serve(const std::string& target, CannedReply reply);
  void Serve(const std::string& target, Handler handler);
  void ServeDefault(Handler handler);

  std::vector<RecordedRequest> Requests() const;
  std::size_t RequestCount() const;
  void ClearRequests();
  // Connections accepted so far (TLS handshakes that failed included).
  std::size_t ConnectionCount() const;

 private:
  struct Impl;
  void Start(std::uint16_t port);
  void AcceptLoop();
  void ServeConnection(int fd);
  struct Route {
    Handler handler;
    std::shared_ptr<const CannedReply> canned;  // served without a copy
  };
  std::shared_ptr<const CannedReply> Answer(const RecordedRequest& request);

  int listenFd_ = -1;
  int wakeFd_ = -1;
  std::uint16_t port_ = 0;
  std::unique_ptr<Impl> impl_;
  mutable std::mutex mutex_;
  std::map<std::string, Route> routes_;
  Handler default_;
  std::vector<RecordedRequest> requests_;
  std::size_t connections_ = 0;
};

// "HTTP/1.1 <status> <reason>\r\n" + extraHeaderLines (each ending "\r\n") +
// "Content-Length: <n>\r\n\r\n" + body.
std::string HttpResponse(int status, std::string_view body, std::string_view extraHeaderLines = "");

}  // namespace telvoro::testing
