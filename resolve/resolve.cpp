#include "resolve/resolve.h"

#include <telvoro/config.h>

#include <algorithm>
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
    if (Utf8SurvivesGbk(piece)) {
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
