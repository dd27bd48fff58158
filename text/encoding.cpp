#include "text/encoding.h"

#include <iconv.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>

namespace telvoro {
namespace {

using Byte = unsigned char;
constexpr char32_t kReplacement = 0xFFFD;

// iconv converts one character at a time on a cache miss; a page uses a few
// thousand distinct characters, so the caches fill quickly and the hot loops
// below never call iconv.
class Iconv {
 public:
  Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Iconv() {
    if (cd_ != reinterpret_cast<iconv_t>(-1)) iconv_close(cd_);
  }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;
  // Converts all of in into out (at most outSize bytes); false on any failure.
  bool Convert(const char* in, std::size_t inSize, char* out, std::size_t outSize, std::size_t* written) {
    if (cd_ == reinterpret_cast<iconv_t>(-1)) return false;
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    char* ip = const_cast<char*>(in);
    char* op = out;
    std::size_t il = inSize, ol = outSize;
    if (iconv(cd_, &ip, &il, &op, &ol) == static_cast<std::size_t>(-1) || il != 0) return false;
    if (iconv(cd_, nullptr, nullptr, &op, &ol) == static_cast<std::size_t>(-1)) return false;
    *written = outSize - ol;
    return true;
  }

 private:
  iconv_t cd_;
};

// GBK double-byte character (lead << 8 | trail) -> code point + 1; 0: not looked up yet.
std::array<std::atomic<std::uint32_t>, 65536> gbkToUnicode{};
// BMP code point -> GBK bytes: bit 24 set when known, bits 16..17 the byte count,
// the low 16 bits the bytes (lead << 8 | trail, or the single byte).
std::array<std::atomic<std::uint32_t>, 65536> unicodeToGbk{};

char32_t LookUpPair(Byte lead, Byte trail) {
  const unsigned key = (static_cast<unsigned>(lead) << 8) | trail;
  std::uint32_t v = gbkToUnicode[key].load(std::memory_order_relaxed);
  if (v == 0) {
    static Iconv cd("UTF-32LE", "CP936");
    const char in[2] = {static_cast<char>(lead), static_cast<char>(trail)};
    char out[8];
    std::size_t n = 0;
    char32_t cp = kReplacement;
    if (cd.Convert(in, 2, out, sizeof out, &n) && n == 4) std::memcpy(&cp, out, 4);
    v = static_cast<std::uint32_t>(cp) + 1;
    gbkToUnicode[key].store(v, std::memory_order_relaxed);
  }
  return static_cast<char32_t>(v - 1);
}

// The GBK bytes of one code point: the character itself, else its look-alike
// (iconv's transliteration), else "?".
std::uint32_t GbkOf(char32_t cp) {
  if (cp < 0x80) return (1u << 24) | (1u << 16) | cp;
  if (cp > 0xFFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return (1u << 24) | (1u << 16) | '?';
  std::uint32_t v = unicodeToGbk[cp].load(std::memory_order_relaxed);
  if (v == 0) {
    static Iconv exact("CP936", "UTF-32LE");
    static Iconv lookAlike("CP936//TRANSLIT", "UTF-32LE");
    char in[4];
    std::memcpy(in, &cp, 4);
    char out[16];
    std::size_t n = 0;
    if (!(exact.Convert(in, 4, out, sizeof out, &n) && n >= 1 && n <= 2) &&
        !(lookAlike.Convert(in, 4, out, sizeof out, &n) && n >= 1 && n <= 2 && out[0] != 0)) {
      out[0] = '?';
      n = 1;
    }
    const std::uint32_t bytes =
        n == 1 ? static_cast<Byte>(out[0]) : (static_cast<std::uint32_t>(static_cast<Byte>(out[0])) << 8) | static_cast<Byte>(out[1]);
    v = (1u << 24) | (static_cast<std::uint32_t>(n) << 16) | bytes;
    unicodeToGbk[cp].store(v, std::memory_order_relaxed);
  }
  return v;
}

inline char* PutGbk(char* o, char32_t cp) {
  const std::uint32_t v = GbkOf(cp);
  if (((v >> 16) & 3) == 2) *o++ = static_cast<char>((v >> 8) & 0xFF);
  *o++ = static_cast<char>(v & 0xFF);
  return o;
}

inline std::size_t GbkLength(char32_t cp) { return (GbkOf(cp) >> 16) & 3; }

// Decodes the UTF-8 character at i; a malformed sequence yields U+FFFD and
// consumes its maximal valid prefix (at least one byte).
inline char32_t DecodeUtf8(std::string_view s, std::size_t& i) {
  const Byte b0 = static_cast<Byte>(s[i]);
  if (b0 < 0x80) {
    ++i;
    return b0;
  }
  int need;
  char32_t cp;
  Byte lo = 0x80, hi = 0xBF;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    need = 1;
    cp = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    need = 2;
    cp = b0 & 0x0F;
    if (b0 == 0xE0) lo = 0xA0;
    if (b0 == 0xED) hi = 0x9F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    need = 3;
    cp = b0 & 0x07;
    if (b0 == 0xF0) lo = 0x90;
    if (b0 == 0xF4) hi = 0x8F;
  } else {
    ++i;
    return kReplacement;
  }
  ++i;
  for (int k = 0; k < need; ++k) {
    if (i >= s.size()) return kReplacement;
    const Byte b = static_cast<Byte>(s[i]);
    if (b < lo || b > hi) return kReplacement;
    lo = 0x80;
    hi = 0xBF;
    cp = (cp << 6) | (b & 0x3F);
    ++i;
  }
  return cp;
}

inline char* PutUtf8(char* o, char32_t cp) {
  if (cp < 0x80) {
    *o++ = static_cast<char>(cp);
  } else if (cp < 0x800) {
    *o++ = static_cast<char>(0xC0 | (cp >> 6));
    *o++ = static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    *o++ = static_cast<char>(0xE0 | (cp >> 12));
    *o++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *o++ = static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    *o++ = static_cast<char>(0xF0 | (cp >> 18));
    *o++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    *o++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *o++ = static_cast<char>(0x80 | (cp & 0x3F));
  }
  return o;
}

inline std::size_t AsciiRun(std::string_view s, std::size_t i);

// Converts character by character through a fixed chunk, which keeps the inner
// loop free of std::string bookkeeping. put(o, cp) writes at most 4 bytes.
template <typename Decode, typename Put>
std::string ConvertChunked(std::string_view in, std::size_t reserve, Decode decode, Put put) {
  std::string out;
  out.reserve(reserve);
  char chunk[16384];
  char* o = chunk;
  char* const limit = chunk + sizeof chunk - 4;
  for (std::size_t i = 0; i < in.size();) {
    if (o >= limit) {
      out.append(chunk, static_cast<std::size_t>(o - chunk));
      o = chunk;
    }
    if (const std::size_t run = AsciiRun(in, i)) {
      const std::size_t n = std::min(run, static_cast<std::size_t>(limit - o));
      std::memcpy(o, in.data() + i, n);
      o += n;
      i += n;
      continue;
    }
    o = put(o, decode(in, i));
  }
  out.append(chunk, static_cast<std::size_t>(o - chunk));
  return out;
}

// Decodes the GBK character at i. A lead byte with a trail byte in 40..FE (not
// 7F) is one character, U+FFFD when it names none; any other byte of 80 or more
// alone is U+FFFD, except 80, the euro sign of code page 936.
inline char32_t DecodeGbk(std::string_view s, std::size_t& i) {
  const Byte b0 = static_cast<Byte>(s[i]);
  if (b0 < 0x80) {
    ++i;
    return b0;
  }
  if (b0 == 0x80) {
    ++i;
    return 0x20AC;
  }
  if (b0 != 0xFF && i + 1 < s.size()) {
    const Byte b1 = static_cast<Byte>(s[i + 1]);
    if (b1 >= 0x40 && b1 <= 0xFE && b1 != 0x7F) {
      i += 2;
      return LookUpPair(b0, b1);
    }
  }
  ++i;
  return kReplacement;
}

// Length of the run of ASCII bytes starting at i.
inline std::size_t AsciiRun(std::string_view s, std::size_t i) {
  const std::size_t start = i;
  while (i + 8 <= s.size()) {
    std::uint64_t w;
    std::memcpy(&w, s.data() + i, 8);
    if (w & 0x8080808080808080ull) break;
    i += 8;
  }
  while (i < s.size() && static_cast<Byte>(s[i]) < 0x80) ++i;
  return i - start;
}

}  // namespace

std::string Utf8ToGbk(std::string_view utf8) {
  // GBK never needs more bytes than UTF-8 for the same characters.
  return ConvertChunked(
      utf8, utf8.size(), [](std::string_view s, std::size_t& i) { return DecodeUtf8(s, i); },
      [](char* o, char32_t cp) { return PutGbk(o, cp); });
}

std::size_t GbkLengthOfUtf8(std::string_view utf8) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < utf8.size();) {
    if (const std::size_t run = AsciiRun(utf8, i)) {
      n += run;
      i += run;
      continue;
    }
    n += GbkLength(DecodeUtf8(utf8, i));
  }
  return n;
}

bool Utf8SurvivesGbk(std::string_view utf8) {
  // Per BMP code point: 0 not asked yet, 1 comes back, 2 does not. A small
  // table of its own keeps this check, run over whole pages, in the cache.
  static std::array<std::atomic<std::uint8_t>, 0x10000> comesBack{};
  for (std::size_t i = 0; i < utf8.size();) {
    if (const std::size_t run = AsciiRun(utf8, i)) {
      i += run;
      continue;
    }
    // A malformed sequence decodes as U+FFFD, which has no GBK form: it fails too.
    const char32_t cp = DecodeUtf8(utf8, i);
    if (cp > 0xFFFF) return false;
    std::uint8_t state = comesBack[cp].load(std::memory_order_relaxed);
    if (state == 0) {
      const std::uint32_t v = GbkOf(cp);
      const Byte first = static_cast<Byte>(((v >> 16) & 3) == 2 ? (v >> 8) & 0xFF : v & 0xFF);
      const bool back = ((v >> 16) & 3) == 2 ? first >= 0x81 && LookUpPair(first, static_cast<Byte>(v & 0xFF)) == cp
                                              : first == 0x80 && cp == 0x20AC;
      state = back ? 1 : 2;
      comesBack[cp].store(state, std::memory_order_relaxed);
    }
    if (state != 1) return false;
  }
  return true;
}

std::string GbkToUtf8(std::string_view gbk) {
  return ConvertChunked(
      gbk, gbk.size() + gbk.size() / 2, [](std::string_view s, std::size_t& i) { return DecodeGbk(s, i); },
      [](char* o, char32_t cp) { return PutUtf8(o, cp); });
}

std::u16string GbkToUtf16(std::string_view gbk) {
  std::u16string out;
  out.reserve(gbk.size());
  for (std::size_t i = 0; i < gbk.size();) out += static_cast<char16_t>(DecodeGbk(gbk, i));  // GBK lies in the BMP
  return out;
}

std::string Utf16ToGbk(std::u16string_view utf16) {
  std::string out;
  out.reserve(utf16.size() * 2);
  for (std::size_t i = 0; i < utf16.size(); ++i) {
    char32_t cp = utf16[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 && utf16[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (utf16[i + 1] - 0xDC00);
      ++i;
    }
    char buf[2];
    out.append(buf, static_cast<std::size_t>(PutGbk(buf, cp) - buf));
  }
  return out;
}

std::optional<std::string> ConvertStrict(std::string_view input, const char* from, const char* to) {
  auto name = [](const char* n) -> std::string {
    std::string s = n ? n : "";
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<Byte>(c)));
    // Code page 936 is what the program means by GBK.
    if (s == "GBK" || s == "GB2312" || s == "936" || s == "CP936") return "CP936";
    if (s == "UTF8" || s == "65001") return "UTF-8";
    return s;
  };
  const std::string f = name(from), t = name(to);
  iconv_t cd = iconv_open(t.c_str(), f.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  std::string out(input.size() * 2 + 16, '\0');
  char* ip = const_cast<char*>(input.data());
  std::size_t il = input.size();
  std::size_t used = 0;
  bool ok = true;
  // One pass over the input, then one to flush any shift state.
  for (bool flushing = false;;) {
    char* op = out.data() + used;
    std::size_t ol = out.size() - used;
    const std::size_t r = flushing ? iconv(cd, nullptr, nullptr, &op, &ol) : iconv(cd, &ip, &il, &op, &ol);
    used = out.size() - ol;
    if (r == static_cast<std::size_t>(-1)) {
      if (errno == E2BIG) {
        out.resize(out.size() * 2);
        continue;
      }
      ok = false;  // EILSEQ or EINVAL: the input does not convert whole
      break;
    }
    if (flushing) break;
    flushing = il == 0;
    if (!flushing) {
      ok = false;
      break;
    }
  }
  iconv_close(cd);
  if (!ok) return std::nullopt;
  out.resize(used);
  return out;
}

}  // namespace telvoro
