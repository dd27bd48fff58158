#include "shell/services.h"

#include <curl/curl.h>
#include <gio/gio.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "text/encoding.h"

namespace telvoro::shell {

bool CheckOnline() {
  // GIO picks NetworkManager's view when it runs, else the kernel's routing
  // table: a default route counts as full connectivity there. A captive portal
  // or a network without a way out is not the internet.
  GNetworkMonitor* monitor = g_network_monitor_get_default();
  if (!monitor || !g_network_monitor_get_network_available(monitor)) return false;
  return g_network_monitor_get_connectivity(monitor) == G_NETWORK_CONNECTIVITY_FULL;
}

namespace {

struct Transfer {
  Bytes body;
  std::size_t maxBytes = 0;
  bool tooLarge = false;
  std::chrono::steady_clock::duration stall{};
  std::chrono::steady_clock::time_point lastProgress;
  curl_off_t lastReceived = -1;
};

std::size_t Collect(char* data, std::size_t size, std::size_t count, void* user) {
  auto* transfer = static_cast<Transfer*>(user);
  const std::size_t n = size * count;
  if (transfer->body.size() + n > transfer->maxBytes) {
    transfer->tooLarge = true;
    return CURL_WRITEFUNC_ERROR;
  }
  transfer->body.insert(transfer->body.end(), data, data + n);
  return n;
}

// Gives up when no byte has come for the stall time: waiting for the answer
// after connecting counts as well, and so does a body that stops halfway.
int WatchProgress(void* user, curl_off_t, curl_off_t received, curl_off_t, curl_off_t) {
  auto* transfer = static_cast<Transfer*>(user);
  const auto now = std::chrono::steady_clock::now();
  if (received != transfer->lastReceived) {
    transfer->lastReceived = received;
    transfer->lastProgress = now;
    return 0;
  }
  return now - transfer->lastProgress >= transfer->stall ? 1 : 0;
}

struct CurlDeleter {
  void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
struct SlistDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

}  // namespace

Bytes DownloadWholePage(const Text& address) { return DownloadWholePage(address, DownloadLimits{}); }

Bytes DownloadWholePage(const Text& address, const DownloadLimits& limits) {
  if (address.empty()) return {};
  static std::once_flag initialised;
  std::call_once(initialised, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });

  std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
  if (!curl) return {};
  // Never from a cache: curl keeps none, and the headers ask proxies and
  // servers in between for a fresh copy too.
  curl_slist* raw = nullptr;
  for (const char* line : {"Cache-Control: no-cache", "Pragma: no-cache", "Accept: */*"}) {
    curl_slist* grown = curl_slist_append(raw, line);
    if (!grown) {
      curl_slist_free_all(raw);
      return {};
    }
    raw = grown;
  }
  std::unique_ptr<curl_slist, SlistDeleter> headers(raw);

  Transfer transfer;
  transfer.maxBytes = limits.maxBytes;
  transfer.stall = std::chrono::milliseconds(limits.stallTimeoutMs);
  transfer.lastProgress = std::chrono::steady_clock::now();

  CURL* c = curl.get();
  bool ok = curl_easy_setopt(c, CURLOPT_URL, address.c_str()) == CURLE_OK;
  ok = ok && curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK;
  ok = ok && curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https") == CURLE_OK;
  ok = ok && curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L) == CURLE_OK;
  ok = ok && curl_easy_setopt(c, CURLOPT_MAXREDIRS, 20L) == CURLE_OK;
  ok = ok && curl_easy_setopt(c, CURLOPT_HTTPGET, 1L) == CURLE_OK;
  ok = ok && curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get()) == CURLE_OK;
  ok = ok && curl_easy_setopt(c, CURLOPT_USERAGENT, "Telvoro/4.1.1.8") == CURLE_OK;
  ok = ok && curl_easy_setopt(c, CURLOPT_ACCEPT_ENCODING, "") == CURLE_OK;
  // A direct connection, as every other request of the program makes.
  ok = ok && curl_easy_setopt(c, CURLOPT_PROXY, "") == CURLE_OK;
  ok = ok && curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L) == CURLE_OK;
  ok = ok && curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, limits.connectTimeoutMs) == CURLE_OK;
  ok = ok && curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, limits.totalTimeoutMs) == CURLE_OK;
  ok = ok && curl_easy_setopt(c, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(limits.maxBytes)) == CURLE_OK;
  ok = ok && curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &Collect) == CURLE_OK;
  ok = ok && curl_easy_setopt(c, CURLOPT_WRITEDATA, &transfer) == CURLE_OK;
  ok = ok && curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, &WatchProgress) == CURLE_OK;
  ok = ok && curl_easy_setopt(c, CURLOPT_XFERINFODATA, &transfer) == CURLE_OK;
  ok = ok && curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L) == CURLE_OK;
  if (!ok) return {};

  if (curl_easy_perform(c) != CURLE_OK || transfer.tooLarge) return {};
  long status = 0;
  if (curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK || status < 200 || status > 299) return {};
  return std::move(transfer.body);
}

Bytes ConvertEncodingStrict(const Bytes& input, const Text& from, const Text& to) {
  const auto out = ConvertStrict(std::string_view(reinterpret_cast<const char*>(input.data()), input.size()),
                                 from.c_str(), to.c_str());
  if (!out) return {};
  return Bytes(out->begin(), out->end());
}

}  // namespace telvoro::shell
