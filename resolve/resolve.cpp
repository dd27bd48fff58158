#include "resolve/resolve.h"

#include <telvoro/config.h>

#include <cstring>
#include <string_view>

#include "resolve/regex_object.h"
#include "resolve/regex_object_internal.h"
#include "text/encoding.h"
#include "web/web_request.h"

namespace telvoro {
namespace {

Text DecodeUtf8Page(std::string_view page) { return Text(Utf8ToGbk(page)); }

}  // namespace

Text DecodePage(const Text& page) { return DecodeUtf8Page(page.bytes()); }

Text ResolvePlayerAddress(const Text& pageAddress) {
  RegexObject youku;
  RegexObject tudou;
  RegexObject letv;

  const Bytes body = WebRequest(pageAddress);
  // The page as a Text ends at its first zero byte; read it in place rather
  // than copy a page of many megabytes first.
  std::string_view page(reinterpret_cast<const char*>(body.data()), body.size());
  if (const void* zero = std::memchr(page.data(), 0, page.size())) {
    page = page.substr(0, static_cast<std::size_t>(static_cast<const char*>(zero) - page.data()));
  }
  // Converted to the engine's form once for all three rows.
  const PreparedSubject pageText = PrepareSubject(DecodeUtf8Page(page));

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
