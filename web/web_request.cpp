// WebRequest over libcurl's easy interface, one synchronous transfer per call.
//
// What goes on the wire: the request line, the Host line and the User-Agent
// line that curl writes, then the header block composed below, line by line,
// then Content-Length when a form body is sent. curl's own defaults (Accept,
// Expect: 100-continue, its form Content-Type) are switched off so that the
// block reaches the server as composed.
//
// The agent and a User-Agent line of the caller's headers reach the wire as one
// line: curl leaves out its own User-Agent line whenever the block holds one,
// and the agent is taken from that very line; only when the caller's headers
// name "User-Agent:" somewhere other than at the start of a line does the agent
// go out as a line of its own.

#include "web/web_request.h"

#include <curl/curl.h>
#include <sys/mman.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <mutex>
#include <new>
#include <string>
#include <string_view>

#include "web/cookies.h"

namespace telvoro {

namespace {

constexpr const char* kDefaultAgent = "Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)";

// Big enough that a large page arrives in few callbacks.
constexpr long kReceiveBufferBytes = 256 * 1024;
// A declared Content-Length above this is not trusted for reserving memory up front.
constexpr curl_off_t kMaxReserveBytes = 256 * 1024 * 1024;

// The process-wide cookie store, the counterpart of the platform's: every
// request made without a cookie string of the caller's reads it and adds to it,
// redirect responses included.
class CookieStore {
 public:
  static CookieStore& Get() {
    static CookieStore store;
    return store;
  }
  CURLSH* share() const { return share_; }

 private:
  CookieStore() {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    share_ = curl_share_init();
    if (share_ == nullptr) return;
    curl_share_setopt(share_, CURLSHOPT_LOCKFUNC, &CookieStore::Lock);
    curl_share_setopt(share_, CURLSHOPT_UNLOCKFUNC, &CookieStore::Unlock);
    curl_share_setopt(share_, CURLSHOPT_USERDATA, this);
    curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
  }
  static void Lock(CURL*, curl_lock_data data, curl_lock_access, void* self) {
    static_cast<CookieStore*>(self)->mutexes_[Slot(data)].lock();
  }
  static void Unlock(CURL*, curl_lock_data data, void* self) {
    static_cast<CookieStore*>(self)->mutexes_[Slot(data)].unlock();
  }
  static std::size_t Slot(curl_lock_data data) {
    return std::min<std::size_t>(static_cast<std::size_t>(data), kSlots - 1);
  }

  static constexpr std::size_t kSlots = CURL_LOCK_DATA_LAST + 1;
  CURLSH* share_ = nullptr;
  std::array<std::mutex, kSlots> mutexes_;
};

bool HoldsControlByte(const Text& text) {
  return std::any_of(text.bytes().begin(), text.bytes().end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x20; });
}

// The agent, from the caller's User-Agent line when there is one.
Text AgentFor(const Text& headers) {
  if (Find(headers, "User-Agent:", 1, true) == -1) return kDefaultAgent;
  Text agent = Trim(TextBetween(headers, "User-Agent:", "\r\n"));
  if (agent.empty()) agent = ValueAfterColon(headers);
  // The agent becomes a header line of its own only when no line of the block
  // begins with User-Agent; it must never carry a line break onto the wire.
  const std::string& b = agent.bytes();
  const auto end = std::find_if(b.begin(), b.end(), [](char c) { return c == '\r' || c == '\n'; });
  return Text(std::string_view(b.data(), static_cast<std::size_t>(end - b.begin())));
}

// The request header block, the browser's defaults filled in where the
// caller's lines lack them. The searches are byte-exact over the block so far.
Text ComposeHeaderBlock(const Text& address, const Text& headers, const Text* cookies) {
  Text block;
  if (headers.empty()) {
    block = "Accept: */*";
  } else {
    block = headers;
    if (Find(block, "Accept:") == -1) block += "\r\nAccept: */*";
  }
  if (Find(block, "Referer:") == -1) block += Text("\r\nReferer: ") + address;
  if (Find(block, "Accept-Language:") == -1) block += "\r\nAccept-Language: zh-cn";
  if (Find(block, "Content-Type:") == -1) block += "\r\nContent-Type: application/x-www-form-urlencoded";
  if (cookies != nullptr && !cookies->empty()) block += Text("\r\nCookie: ") + *cookies;
  return block;
}

// The block as curl's header list. An empty line would end the header section
// on the wire and turn the lines after it into body, so empty lines are left
// out, and a lone CR or LF breaks a line as CR LF does.
curl_slist* HeaderList(const Text& block) {
  curl_slist* list = nullptr;
  auto add = [&list](const std::string& line) {
    curl_slist* next = curl_slist_append(list, line.c_str());
    if (next == nullptr) {
      curl_slist_free_all(list);
      list = nullptr;
      return false;
    }
    list = next;
    return true;
  };
  const std::string& b = block.bytes();
  std::size_t start = 0;
  while (start <= b.size()) {
    std::size_t end = b.find_first_of("\r\n", start);
    if (end == std::string::npos) end = b.size();
    std::string line = b.substr(start, end - start);
    start = end + 1;
    if (line.empty()) continue;
    // curl takes "Name:" with nothing after it as "leave my own Name header
    // out"; "Name;" is its way of sending a header with an empty value.
    const std::size_t colon = line.find(':');
    if (colon != std::string::npos && line.find_first_not_of(" \t", colon + 1) == std::string::npos) {
      line.resize(colon);
      line += ';';
    }
    if (!add(line)) return nullptr;
  }
  // curl's own defaults: none of them goes out beside our block.
  for (const char* off : {"Accept:", "Content-Type:", "Expect:", "Proxy-Connection:", "Transfer-Encoding:"}) {
    if (!add(off)) return nullptr;
  }
  return list;
}

using Clock = std::chrono::steady_clock;

struct Transfer {
  CURL* curl = nullptr;
  // The last moment a byte came in (or a byte of the form body went out).
  Clock::time_point lastByte = Clock::now();
  curl_off_t sent = 0;
  Clock::duration stallLimit = Clock::duration::zero();  // zero: no limit
  Bytes body;
  bool bodyStarted = false;
  std::string headerBlock;         // of the latest response, CR LF line ends
  bool headerBlockComplete = true;  // the next status line starts a new response
};

std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  t->lastByte = Clock::now();
  const std::size_t total = size * count;
  std::string_view line(data, total);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  if (t->headerBlockComplete && line.substr(0, 5) == "HTTP/") {
    // A new response (after a redirect or a 100 Continue): only the final one counts.
    t->headerBlock.clear();
    t->headerBlockComplete = false;
    t->body.clear();
    t->bodyStarted = false;
  }
  try {
    for (char c : line) {
      // A Text ends at a zero byte: leave it out and keep the lines after it.
      // A carriage return inside a line would break it in two once its value
      // travels on, in a cookie string for instance: it becomes a blank.
      if (c == '\r') {
        t->headerBlock += ' ';
      } else if (c != '\0') {
        t->headerBlock += c;
      }
    }
    t->headerBlock += "\r\n";
  } catch (const std::bad_alloc&) {
    return 0;
  }
  if (line.empty()) t->headerBlockComplete = true;
  return total;
}

// First touches of fresh 4 KB pages dominate the fetch of a large page; huge
// pages cut their number by 512. Only the 2 MB-aligned inside of the buffer can
// have them; a refusal changes nothing.
void AskForHugePages(void* data, std::size_t size) {
  constexpr std::uintptr_t kHuge = 2u << 20;
  const auto begin = (reinterpret_cast<std::uintptr_t>(data) + kHuge - 1) & ~(kHuge - 1);
  const auto end = (reinterpret_cast<std::uintptr_t>(data) + size) & ~(kHuge - 1);
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  t->lastByte = Clock::now();
  const std::size_t total = size * count;
  try {
    if (!t->bodyStarted) {
      t->bodyStarted = true;
      curl_off_t expected = -1;
      if (curl_easy_getinfo(t->curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &expected) == CURLE_OK && expected > 0) {
        t->body.reserve(static_cast<std::size_t>(std::min(expected, kMaxReserveBytes)));
        AskForHugePages(t->body.data(), t->body.capacity());
      }
    }
    t->body.insert(t->body.end(), reinterpret_cast<const std::uint8_t*>(data),
                   reinterpret_cast<const std::uint8_t*>(data) + total);
  } catch (const std::bad_alloc&) {
    return 0;  // ends the transfer; the body read so far is returned
  }
  return total;
}

// Called about once a second even while nothing moves: ends a transfer that has
// received nothing for the stall limit.
int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t sent) {
  auto* t = static_cast<Transfer*>(user);
  const Clock::time_point now = Clock::now();
  if (sent != t->sent) {
    t->sent = sent;
    t->lastByte = now;
  }
  return t->stallLimit != Clock::duration::zero() && now - t->lastByte > t->stallLimit ? 1 : 0;
}

// The cookie string of every "Set-Cookie" line: name=value pieces joined by "; ".
Text GatherReceivedCookies(const Text& responseHeaders) {
  Text received;
  for (const Text& line : Split(responseHeaders, "\r\n")) {
    if (Find(line, "Set-Cookie") == -1) continue;
    Text value;
    if (Find(line, ";") == -1) {
      value = Trim(ReplaceText(line, "Set-Cookie:", Text(), false));
    } else {
      value = Trim(TextBetween(line, "Set-Cookie:", ";"));
    }
    received += value + "; ";
  }
  return Left(received, received.Length() - 2);
}

struct EasyHandle {
  CURL* curl = curl_easy_init();
  ~EasyHandle() {
    if (curl != nullptr) curl_easy_cleanup(curl);
  }
};
struct UrlHandle {
  CURLU* url = curl_url();
  ~UrlHandle() {
    if (url != nullptr) curl_url_cleanup(url);
  }
};
struct HeaderListHolder {
  curl_slist* list = nullptr;
  ~HeaderListHolder() { curl_slist_free_all(list); }
};

}  // namespace

Bytes WebRequest(const Text& address, const WebRequestOptions& options) {
  CURLSH* const store = CookieStore::Get().share();

  // A control byte would travel in the Referer line and could add header
  // lines of its own: such an address is not requested at all.
  if (address.empty() || HoldsControlByte(address)) return {};

  const bool secure = ToLower(Left(address, 5)) == Text("https");
  const Text host = UrlHost(address);
  const int port = UrlPort(address);
  if (host.empty()) return {};
  std::string url = std::string(secure ? "https://" : "http://") + host.bytes();
  // Port 0 (a colon with no digits) leaves the choice to the client: the scheme's port.
  if (port != 0) url += ":" + std::to_string(port);
  url += UrlPath(address).bytes();

  UrlHandle parsed;
  if (parsed.url == nullptr ||
      curl_url_set(parsed.url, CURLUPART_URL, url.c_str(), CURLU_ALLOW_SPACE | CURLU_URLENCODE) != CURLUE_OK) {
    return {};
  }
  // The connection goes to the host the address names, or nowhere.
  char* parsedHost = nullptr;
  if (curl_url_get(parsed.url, CURLUPART_HOST, &parsedHost, 0) != CURLUE_OK) return {};
  const bool sameHost = Text(parsedHost) == host;
  curl_free(parsedHost);
  if (!sameHost) return {};

  EasyHandle easy;
  if (easy.curl == nullptr) return {};
  CURL* const curl = easy.curl;

  const Text agent = AgentFor(options.headers);
  HeaderListHolder headerList;
  headerList.list = HeaderList(ComposeHeaderBlock(address, options.headers, options.cookies));
  if (headerList.list == nullptr) return {};

  Transfer transfer;
  transfer.curl = curl;
  curl_easy_setopt(curl, CURLOPT_CURLU, parsed.url);
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headerList.list);
  if (!agent.empty()) curl_easy_setopt(curl, CURLOPT_USERAGENT, agent.c_str());

  // Redirects: http and https only, at most 20; or none at all.
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, options.noRedirect ? 0L : 1L);
  curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 20L);
  curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");

  // An empty proxy text means a direct connection, whatever the environment
  // (http_proxy, https_proxy, ALL_PROXY) says; a given proxy serves every host
  // (no_proxy notwithstanding), through a tunnel for https.
  curl_easy_setopt(curl, CURLOPT_PROXY, options.proxy.c_str());
  if (!options.proxy.empty()) curl_easy_setopt(curl, CURLOPT_NOPROXY, "");
  curl_easy_setopt(curl, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);

  // TLS with the peer's certificate and name verified (curl's defaults, stated).
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
  if (!options.caFile.empty()) {
    curl_easy_setopt(curl, CURLOPT_CAINFO, options.caFile.c_str());
    curl_easy_setopt(curl, CURLOPT_CAPATH, nullptr);
  }

  // No cache: libcurl keeps none, and every call has its own handle and connection.
  // Never hang: give up on a connection (TLS handshake included) that takes too
  // long, and on a transfer that stops delivering bytes.
  if (options.connectTimeoutSeconds > 0) curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, options.connectTimeoutSeconds);
  if (options.stallTimeoutSeconds > 0) {
    transfer.stallLimit = std::chrono::seconds(options.stallTimeoutSeconds);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &OnProgress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
  }

  // The process cookie store, unless the caller keeps the cookies.
  if (options.cookies == nullptr && store != nullptr) {
    curl_easy_setopt(curl, CURLOPT_SHARE, store);
    curl_easy_setopt(curl, CURLOPT_COOKIEFILE, "");  // switches the cookie engine on, reads no file
  }

  Bytes formBody;
  if (options.method != 0) {
    formBody = !options.formBytes.empty() ? options.formBytes : ToBytes(options.formText);
    static const char kNothing = '\0';
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(formBody.size()));
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS,
                     formBody.empty() ? &kNothing : reinterpret_cast<const char*>(formBody.data()));
    if (options.method != 1) curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, "GET");
  } else {
    curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
  }

  curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, kReceiveBufferBytes);
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &OnHeader);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &transfer);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &OnBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);

  // Failures of the transfer are not reported: the caller sees an empty or
  // shortened body and whatever header block arrived.
  transfer.lastByte = Clock::now();
  curl_easy_perform(curl);

  Text responseHeaders = ReplaceText(Text(transfer.headerBlock), "Set-Cookie", "Set-Cookie", false);
  Text received = GatherReceivedCookies(responseHeaders);
  if (options.cookies != nullptr) MergeCookies(*options.cookies, received);
  if (options.receivedCookies != nullptr) *options.receivedCookies = received;
  if (options.responseHeaders != nullptr) *options.responseHeaders = std::move(responseHeaders);
  return std::move(transfer.body);
}

}  // namespace telvoro
