#pragma once
// Text: the program's string, GBK bytes (code page 936) without any zero byte.
// Lengths count bytes, positions are 1-based byte positions, -1 means "not found".
// Searches, splits and replacements only match where a character begins: a byte
// of 0x80 or more and the byte after it form one character and are stepped over
// as a unit. Cuts (Left, Right, Mid) count bytes and never look at characters.

#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace telvoro {

// A byte array: any bytes, zero bytes included.
using Bytes = std::vector<std::uint8_t>;

class Text {
 public:
  Text() = default;
  // From GBK bytes: everything up to the first zero byte.
  Text(std::string_view gbk);  // NOLINT(google-explicit-constructor): literals read naturally
  Text(const char* gbk) : Text(std::string_view(gbk ? gbk : "")) {}  // NOLINT
  Text(const std::string& gbk) : Text(std::string_view(gbk)) {}      // NOLINT

  // From UTF-8 source text (our Chinese literals are written in UTF-8).
  static Text FromUtf8(std::string_view utf8);
  // The same characters in UTF-8, for the desktop and the terminal.
  std::string ToUtf8() const;

  const std::string& bytes() const { return bytes_; }
  const char* c_str() const { return bytes_.c_str(); }
  int Length() const { return static_cast<int>(bytes_.size()); }
  bool empty() const { return bytes_.empty(); }

  Text& operator+=(const Text& other) {
    bytes_ += other.bytes_;
    return *this;
  }
  friend Text operator+(Text a, const Text& b) { return a += b; }
  friend bool operator==(const Text& a, const Text& b) { return a.bytes_ == b.bytes_; }
  // Unsigned byte by byte, as std::string compares with char_traits<char>::compare (memcmp).
  friend std::strong_ordering operator<=>(const Text& a, const Text& b) {
    const int c = a.bytes_.compare(b.bytes_);
    return c < 0 ? std::strong_ordering::less : c > 0 ? std::strong_ordering::greater : std::strong_ordering::equal;
  }

 private:
  std::string bytes_;
};

// Position of the first occurrence of sought at or after start; -1 when none.
int Find(const Text& text, const Text& sought, int start = 1, bool ignoreCase = false);
// Position of the last occurrence lying wholly within the first start - 1 bytes
// (no start: within the whole text); -1 when none.
int FindLast(const Text& text, const Text& sought, std::optional<int> start = std::nullopt);
Text Left(const Text& text, int n);
Text Right(const Text& text, int n);
Text Mid(const Text& text, int start, int n);
std::vector<Text> Split(const Text& text, const Text& delimiter);
// caseSensitive false folds the ASCII letters only.
Text ReplaceText(const Text& text, const Text& sought, const Text& replacement, bool caseSensitive);
Text Trim(const Text& text);
Text RemoveSpaces(const Text& text);
Text ToLower(const Text& text);
int ToInteger(const Text& text);
Bytes ToBytes(const Text& text);
Text ToText(const Bytes& bytes);
// The text between the first left marker at or after start and the first right
// marker after it; "#引号" in either marker stands for a double quote.
Text TextBetween(const Text& text, const Text& left, const Text& right, int start = 1, bool ignoreCase = false);

}  // namespace telvoro
