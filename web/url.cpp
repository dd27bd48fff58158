// Address parts as the request uses them. They work on the address as the
// caller gave it: no escapes are decoded and a user name gets no special care.

#include "text/text.h"
#include "web/web_request.h"

namespace telvoro {

namespace {

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }

// Length of the scheme and its "://" when the address begins with one
// ("http://", "HTTPS://", "ftp://"), else 0. Only the address's own scheme
// counts: an "http://" further on, in a query for instance, is not a scheme.
int SchemeMarkerLength(const Text& address) {
  const std::string& b = address.bytes();
  if (b.empty() || !IsAsciiLetter(b[0])) return 0;
  std::size_t i = 1;
  while (i < b.size() && (IsAsciiLetter(b[i]) || IsAsciiDigit(b[i]) || b[i] == '+' || b[i] == '-' || b[i] == '.')) ++i;
  return b.compare(i, 3, "://") == 0 ? static_cast<int>(i + 3) : 0;
}

}  // namespace

Text UrlHost(const Text& address, bool keepPort) {
  Text u = ToLower(address);
  if (Right(u, 1) != Text("/")) u += "/";
  if (SchemeMarkerLength(u) == 0) u = Text("http://") + u;
  // The scheme holds no colon, so the first "://" is the address's own marker.
  u = TextBetween(u, "://", "/");
  if (!keepPort) {
    const int c = Find(u, ":");
    if (c != -1) u = Left(u, c - 1);
  }
  return u;
}

int UrlPort(const Text& address) {
  const Text h = UrlHost(address, true);
  const int c = FindLast(h, ":");
  if (c == -1) return ToLower(Left(address, 5)) == Text("https") ? 443 : 80;
  return ToInteger(Right(h, h.Length() - c));
}

Text UrlPath(const Text& address) {
  // The host begins right after the address's own scheme marker (or at the
  // start when there is none) and runs to the next "/", where the object name
  // begins.
  const int hostStart = SchemeMarkerLength(address) + 1;
  const int b = Find(address, "/", hostStart, true);
  if (b <= 0) return "/";
  return Right(address, address.Length() - b + 1);
}

Text ValueAfterColon(const Text& text) {
  const int c = Find(text, ":");
  if (c == -1) return Text();
  return Trim(Right(text, text.Length() - c));
}

}  // namespace telvoro
