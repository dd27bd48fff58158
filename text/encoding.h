#pragma once
// Conversions between GBK (code page 936), UTF-8 and UTF-16.
//
// The lenient conversions never fail: a malformed UTF-8 sequence becomes U+FFFD,
// a GBK byte sequence that names no character becomes U+FFFD, and a character
// that GBK lacks becomes its nearest look-alike where one exists, else "?".
// They run from tables built once from iconv's CP936, with an ASCII fast path,
// because whole web pages go through them.

#include <optional>
#include <string>
#include <string_view>

namespace telvoro {

// UTF-8 to GBK bytes. The output may hold zero bytes if the input does.
std::string Utf8ToGbk(std::string_view utf8);
// GBK to UTF-8. The output may hold zero bytes if the input does.
std::string GbkToUtf8(std::string_view gbk);
std::u16string GbkToUtf16(std::string_view gbk);
std::string Utf16ToGbk(std::u16string_view utf16);

// Number of GBK bytes that the UTF-8 text gives (what Utf8ToGbk(utf8).size() would be).
std::size_t GbkLengthOfUtf8(std::string_view utf8);

// Whether every character of the UTF-8 text is well formed and has a GBK form
// of its own, so that GbkToUtf8(Utf8ToGbk(utf8)) gives it back unchanged.
bool Utf8SurvivesGbk(std::string_view utf8);

// Strict conversion between any two iconv encodings ("UTF-8", "GBK", ...):
// nothing unless the whole input converts.
std::optional<std::string> ConvertStrict(std::string_view input, const char* from, const char* to);

}  // namespace telvoro
