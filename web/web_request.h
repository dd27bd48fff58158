#pragma once
// WebRequest: one synchronous HTTP or HTTPS request with a browser's defaults,
// returning the response body. Failures give an empty or shortened body, never
// an error of their own.

#include <string>

#include "text/text.h"

namespace telvoro {

struct WebRequestOptions {
  int method = 0;                   // 1: POST; anything else: GET. Not 0: a form body is sent.
  Text formText;                    // form body, used when formBytes is empty
  Text* cookies = nullptr;          // supplied when not null: sent, and merged with what the response sets
  Text* receivedCookies = nullptr;  // out: the cookies the response set, "a=1; b=2"
  Text headers;                     // the caller's header lines, separated by "\r\n"
  Text* responseHeaders = nullptr;  // out: the raw header block of the final response
  bool noRedirect = false;
  Bytes formBytes;                  // form body as bytes; takes precedence over formText
  Text proxy;                       // "host:port"; empty: a direct connection

  // How long a request may take before it is given up (not part of the caller's
  // usual vocabulary; tests shorten them).
  long connectTimeoutSeconds = 30;
  long stallTimeoutSeconds = 60;  // abort when no byte arrives for this long

  // Test hook: a PEM file of the only certificate authorities to trust for
  // https (empty: the system's store).
  std::string caFile;
};

Bytes WebRequest(const Text& address, const WebRequestOptions& options = {});

// Address parts, as the request uses them.
Text UrlHost(const Text& address, bool keepPort = false);
int UrlPort(const Text& address);
Text UrlPath(const Text& address);
Text ValueAfterColon(const Text& text);

}  // namespace telvoro
