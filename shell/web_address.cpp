#include "shell/web_address.h"

#include <string_view>

namespace telvoro::shell {

bool IsWebAddress(const Text& address) {
  const std::string_view s = address.bytes();
  auto startsWith = [&](std::string_view prefix) {
    if (s.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
      const char c = s[i];
      const char lower = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
      if (lower != prefix[i]) return false;
    }
    return true;
  };
  std::size_t hostAt = 0;
  if (startsWith("http://")) {
    hostAt = 7;
  } else if (startsWith("https://")) {
    hostAt = 8;
  } else {
    return false;
  }
  if (hostAt >= s.size()) return false;
  if (const char first = s[hostAt]; first == '/' || first == '\\' || first == '?' || first == '#') return false;
  for (const char c : s)
    if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7f) return false;
  return true;
}

}  // namespace telvoro::shell
