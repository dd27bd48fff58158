#pragma once
// Services of the desktop that need no window: the online check, the page
// download and the strict encoding conversion behind the toolkit.

#include <cstddef>

#include "text/text.h"

namespace telvoro::shell {

// True only when the system has a route to the internet.
bool CheckOnline();
// The whole body of a GET, never from a cache, with WebRequest's timeouts and a
// bound on the size; empty on any failure (HTTP error statuses included).
Bytes DownloadWholePage(const Text& address);

struct DownloadLimits {
  long connectTimeoutMs = 30'000;
  long stallTimeoutMs = 60'000;   // give up when no byte arrives for this long
  // And in any case after this long: the start-up sequence reads the small
  // notice page three times with the window frozen, so a server that stalls or
  // trickles must not hold it for minutes.
  long totalTimeoutMs = 10'000;
  std::size_t maxBytes = 4u << 20;  // a larger body gives nothing
};
// The same with other limits (tests shorten them).
Bytes DownloadWholePage(const Text& address, const DownloadLimits& limits);
// Empty unless the whole input converts from one encoding to the other.
Bytes ConvertEncodingStrict(const Bytes& input, const Text& from, const Text& to);

}  // namespace telvoro::shell
