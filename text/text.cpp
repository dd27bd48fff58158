#include "text/text.h"

#include <climits>
#include <cstring>

#include "text/encoding.h"

namespace telvoro {
namespace {

using Byte = unsigned char;

inline Byte At(const std::string& s, std::size_t i) { return static_cast<Byte>(s[i]); }

// Bytes of the character that begins at i: two for a lead byte with a byte after it.
inline std::size_t CharLength(const std::string& s, std::size_t i) {
  return (At(s, i) >= 0x80 && i + 1 < s.size()) ? 2 : 1;
}

inline Byte FoldAscii(Byte b) { return (b >= 'A' && b <= 'Z') ? static_cast<Byte>(b + ('a' - 'A')) : b; }

// Whether sought occurs in text at byte offset i. With ignoreCase only the ASCII
// letters of single-byte characters fold; both sides are aligned on characters.
bool MatchesAt(const std::string& text, std::size_t i, const std::string& sought, bool ignoreCase) {
  if (sought.size() > text.size() - i) return false;
  if (!ignoreCase) return std::memcmp(text.data() + i, sought.data(), sought.size()) == 0;
  for (std::size_t k = 0; k < sought.size();) {
    const Byte s = At(sought, k);
    if (s >= 0x80) {
      if (At(text, i + k) != s) return false;
      if (k + 1 < sought.size() && At(text, i + k + 1) != At(sought, k + 1)) return false;
      k += 2;
    } else {
      if (FoldAscii(At(text, i + k)) != FoldAscii(s)) return false;
      ++k;
    }
  }
  return true;
}

// Offset of the first occurrence at a character start at or after `from`, or npos.
std::size_t FindFrom(const std::string& text, const std::string& sought, std::size_t from, bool ignoreCase) {
  if (sought.empty()) return from < text.size() ? from : std::string::npos;
  const Byte first = At(sought, 0);
  const bool foldFirst = ignoreCase && first < 0x80;
  for (std::size_t i = from; i < text.size(); i += CharLength(text, i)) {
    const Byte b = At(text, i);
    if ((foldFirst ? FoldAscii(b) == FoldAscii(first) : b == first) && MatchesAt(text, i, sought, ignoreCase))
      return i;
  }
  return std::string::npos;
}

// Length of the blank (space or full-width space) that begins at i, else 0.
inline std::size_t BlankAt(const std::string& s, std::size_t i) {
  if (At(s, i) == 0x20) return 1;
  if (At(s, i) == 0xA1 && i + 1 < s.size() && At(s, i + 1) == 0xA1) return 2;
  return 0;
}

Text FromBytes(std::string bytes) { return Text(std::string_view(bytes)); }

}  // namespace

Text::Text(std::string_view gbk) {
  const std::size_t zero = gbk.find('\0');
  bytes_.assign(gbk.substr(0, zero));
}

Text Text::FromUtf8(std::string_view utf8) { return Text(std::string_view(Utf8ToGbk(utf8))); }

std::string Text::ToUtf8() const { return GbkToUtf8(bytes_); }

int Find(const Text& text, const Text& sought, int start, bool ignoreCase) {
  const std::string& t = text.bytes();
  if (start < 1) start = 1;
  if (static_cast<std::size_t>(start) > t.size()) return -1;
  if (sought.empty()) return 1;
  const std::size_t at = FindFrom(t, sought.bytes(), static_cast<std::size_t>(start - 1), ignoreCase);
  return at == std::string::npos ? -1 : static_cast<int>(at) + 1;
}

int FindLast(const Text& text, const Text& sought, std::optional<int> start) {
  const std::string& t = text.bytes();
  std::size_t limit = t.size();  // the occurrence must end within the first `limit` bytes
  if (start) {
    if (*start <= 1) return -1;
    if (static_cast<std::size_t>(*start) <= t.size()) limit = static_cast<std::size_t>(*start) - 1;
  }
  if (sought.empty()) return -1;
  const std::string& s = sought.bytes();
  int last = -1;
  for (std::size_t at = FindFrom(t, s, 0, false); at != std::string::npos && at + s.size() <= limit;
       at = FindFrom(t, s, at + CharLength(t, at), false))
    last = static_cast<int>(at) + 1;
  return last;
}

Text Left(const Text& text, int n) {
  if (n <= 0) return {};
  return FromBytes(text.bytes().substr(0, static_cast<std::size_t>(n)));
}

Text Right(const Text& text, int n) {
  if (n <= 0) return {};
  const std::string& t = text.bytes();
  const std::size_t k = std::min(t.size(), static_cast<std::size_t>(n));
  return FromBytes(t.substr(t.size() - k));
}

Text Mid(const Text& text, int start, int n) {
  if (start < 1 || start > text.Length() || n <= 0) return {};
  return FromBytes(text.bytes().substr(static_cast<std::size_t>(start - 1), static_cast<std::size_t>(n)));
}

std::vector<Text> Split(const Text& text, const Text& delimiter) {
  std::vector<Text> pieces;
  const std::string& t = text.bytes();
  const std::string& d = delimiter.bytes();
  if (t.empty()) return pieces;
  if (d.empty()) return {text};
  std::size_t from = 0;
  for (std::size_t at = FindFrom(t, d, 0, false); at != std::string::npos; at = FindFrom(t, d, from, false)) {
    pieces.push_back(FromBytes(t.substr(from, at - from)));
    from = at + d.size();
  }
  if (from < t.size()) pieces.push_back(FromBytes(t.substr(from)));
  return pieces;
}

Text ReplaceText(const Text& text, const Text& sought, const Text& replacement, bool caseSensitive) {
  const std::string& t = text.bytes();
  const std::string& s = sought.bytes();
  if (t.empty() || s.empty()) return text;
  std::string out;
  out.reserve(t.size());
  std::size_t from = 0;
  for (std::size_t at = FindFrom(t, s, 0, !caseSensitive); at != std::string::npos;
       at = FindFrom(t, s, from, !caseSensitive)) {
    out.append(t, from, at - from);
    out += replacement.bytes();
    from = at + s.size();
  }
  out.append(t, from, std::string::npos);
  return FromBytes(std::move(out));
}

Text Trim(const Text& text) {
  const std::string& t = text.bytes();
  std::size_t begin = 0;
  while (begin < t.size()) {
    const std::size_t blank = BlankAt(t, begin);
    if (!blank) break;
    begin += blank;
  }
  // Trailing blanks are found walking forward, since GBK cannot be read backwards.
  std::size_t end = begin;
  for (std::size_t i = begin; i < t.size();) {
    const std::size_t blank = BlankAt(t, i);
    i += blank ? blank : CharLength(t, i);
    if (!blank) end = i;
  }
  return FromBytes(t.substr(begin, end - begin));
}

Text RemoveSpaces(const Text& text) {
  const std::string& t = text.bytes();
  std::string out;
  out.reserve(t.size());
  for (std::size_t i = 0; i < t.size();) {
    if (const std::size_t blank = BlankAt(t, i)) {
      i += blank;
      continue;
    }
    const std::size_t n = CharLength(t, i);
    out.append(t, i, n);
    i += n;
  }
  return FromBytes(std::move(out));
}

Text ToLower(const Text& text) {
  std::string out = text.bytes();
  for (std::size_t i = 0; i < out.size(); i += CharLength(out, i))
    out[i] = static_cast<char>(FoldAscii(At(out, i)));
  return FromBytes(std::move(out));
}

int ToInteger(const Text& text) {
  // Full-width forms first: A3 A1..A3 FE are ASCII 21..7E, A1 A1 is the space.
  const std::string& t = text.bytes();
  std::string ascii;
  ascii.reserve(t.size());
  for (std::size_t i = 0; i < t.size();) {
    const std::size_t n = CharLength(t, i);
    if (n == 2 && At(t, i) == 0xA3 && At(t, i + 1) >= 0xA1 && At(t, i + 1) <= 0xFE)
      ascii += static_cast<char>(At(t, i + 1) - 0x80);
    else if (n == 2 && At(t, i) == 0xA1 && At(t, i + 1) == 0xA1)
      ascii += ' ';
    else
      ascii.append(t, i, n);
    i += n;
  }
  std::size_t i = 0;
  while (i < ascii.size() && (ascii[i] == ' ' || (ascii[i] >= '\t' && ascii[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < ascii.size() && (ascii[i] == '+' || ascii[i] == '-')) negative = ascii[i++] == '-';
  long long value = 0;
  for (; i < ascii.size() && ascii[i] >= '0' && ascii[i] <= '9'; ++i) {
    value = value * 10 + (ascii[i] - '0');
    if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;  // saturate
  }
  if (negative) value = -value;
  if (value > INT_MAX) value = INT_MAX;
  return static_cast<int>(value);
}

Bytes ToBytes(const Text& text) { return Bytes(text.bytes().begin(), text.bytes().end()); }

Text ToText(const Bytes& bytes) {
  return Text(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

Text TextBetween(const Text& text, const Text& left, const Text& right, int start, bool ignoreCase) {
  static const Text placeholder = Text::FromUtf8("#引号");
  const Text l = ReplaceText(left, placeholder, "\"", true);
  const Text r = ReplaceText(right, placeholder, "\"", true);
  int p = Find(text, l, start, ignoreCase);
  if (p == -1) return {};
  p += l.Length();
  const int q = Find(text, r, p, ignoreCase);
  if (q == -1) return {};
  return Mid(text, p, q - p);
}

}  // namespace telvoro
