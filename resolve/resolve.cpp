#include "resolve/resolve.h"

#include <telvoro/config.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "resolve/regex_object.h"
#include "resolve/regex_object_internal.h"
#include "text/encoding.h"
#include "web/web_request.h"

namespace telvoro {
namespace {

// Pieces of about this size go through the conversions in turn; they stay in
// the cache, and no buffer of the page's size is made.
constexpr std::size_t kPieceBytes = 64 * 1024;

// Whether every character of the piece is well-formed UTF-8 with a GBK form of
// its own, so that the two conversions give the piece back unchanged. One pass
// with a table of the characters met so far, much cheaper than converting.
bool SurvivesGbk(std::string_view piece) {
  // Per BMP code point: 0 not met yet, 1 survives, 2 does not.
  static std::array<std::atomic<std::uint8_t>, 0x10000> known{};
  const auto* p = reinterpret_cast<const unsigned char*>(piece.data());
  const std::size_t n = piece.size();
  for (std::size_t i = 0; i < n;) {
    if (i + 8 <= n) {
      std::uint64_t word;
      std::memcpy(&word, p + i, 8);
      if ((word & 0x8080808080808080ull) == 0) {
        i += 8;
        continue;
      }
    }
    const unsigned char b0 = p[i];
    if (b0 < 0x80) {
      ++i;
      continue;
    }
    // Two- and three-byte forms only: GBK holds nothing beyond the BMP.
    std::size_t length;
    char32_t cp;
    if (b0 >= 0xC2 && b0 <= 0xDF && i + 1 < n && (p[i + 1] & 0xC0) == 0x80) {
      length = 2;
      cp = (static_cast<char32_t>(b0 & 0x1F) << 6) | (p[i + 1] & 0x3F);
    } else if (b0 >= 0xE0 && b0 <= 0xEF && i + 2 < n && (p[i + 1] & 0xC0) == 0x80 && (p[i + 2] & 0xC0) == 0x80) {
      length = 3;
      cp = (static_cast<char32_t>(b0 & 0x0F) << 12) | (static_cast<char32_t>(p[i + 1] & 0x3F) << 6) | (p[i + 2] & 0x3F);
      if (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF)) return false;  // overlong, surrogate
    } else {
      return false;
    }
    std::uint8_t state = known[cp].load(std::memory_order_relaxed);
    if (state == 0) {
      const std::string_view character = piece.substr(i, length);
      state = GbkToUtf8(Utf8ToGbk(character)) == character ? 1 : 2;
      known[cp].store(state, std::memory_order_relaxed);
    }
    if (state != 1) return false;
    i += length;
  }
  return true;
}

}  // namespace

// The page as the patterns see it: DecodePage's GBK Text brought into the
// engine's UTF-8. A page of characters that all have a GBK form, which is
// nearly every page, comes out of the two conversions as it went in; then the
// page itself is the subject and neither form is made. Otherwise the subject
// is built from the pieces, converted where they change.
//
// The pieces end in front of an ASCII byte. Neither conversion ever reads a
// character across such a point (an ASCII byte is never part of a UTF-8
// sequence, and the GBK between two such points is whole characters), so
// converting piece by piece gives what converting the whole page gives.
PreparedSubject PreparePage(std::shared_ptr<const Bytes> body, std::string_view page) {
  PreparedSubject prepared;
  std::shared_ptr<std::string> rebuilt;
  for (std::size_t begin = 0; begin < page.size();) {
    std::size_t end = std::min(page.size(), begin + kPieceBytes);
    while (end < page.size() && static_cast<unsigned char>(page[end]) >= 0x80) ++end;
    const std::string_view piece = page.substr(begin, end - begin);
    if (SurvivesGbk(piece)) {
      if (rebuilt) rebuilt->append(piece);
    } else {
      if (!rebuilt) {
        rebuilt = std::make_shared<std::string>();
        rebuilt->reserve(page.size() + page.size() / 8);
        rebuilt->append(page.substr(0, begin));
      }
      rebuilt->append(GbkToUtf8(Utf8ToGbk(piece)));
    }
    begin = end;
  }
  if (rebuilt) {
    prepared.utf8 = *rebuilt;
    prepared.owner = std::move(rebuilt);
  } else {
    prepared.utf8 = page;
    prepared.owner = std::move(body);
  }
  return prepared;
}

Text DecodePage(const Text& page) { return Text(Utf8ToGbk(page.bytes())); }

Text ResolvePlayerAddress(const Text& pageAddress) {
  RegexObject youku;
  RegexObject tudou;
  RegexObject letv;

  const auto body = std::make_shared<const Bytes>(WebRequest(pageAddress));
  // ToText: the page ends at its first zero byte.
  std::string_view page(reinterpret_cast<const char*>(body->data()), body->size());
  page = page.substr(0, page.find('\0'));
  const PreparedSubject pageText = PreparePage(body, page);

  RegexObjectInternals::Search(youku, Text("value=\"http://(.*?)swf\" >"), pageText);
  if (Text g = youku.SubMatchText(1, 1); !g.empty()) return Text("http://") + g + Text("swf");

  RegexObjectInternals::Search(tudou, Text(",icode: '(.*?)' "), pageText);
  if (Text g = tudou.SubMatchText(1, 1); !g.empty()) {
    return Text("http://") + Text(config::kTudouWebHost) + Text("/v/") + g + Text("/v.swf");
  }

  RegexObjectInternals::Search(letv, Text("value=\"(.*?);autoplay=0"), pageText);
  return letv.SubMatchText(1, 1);
}

}  // namespace telvoro
