#pragma once
// What the resolver needs of RegexObject beyond its public face: a page is
// brought into the engine's form once and shared by the three rows, without a
// copy when the page allows it. The results are those of RegexObject::Search
// on the page's GBK Text.

#include <memory>
#include <string_view>

#include "resolve/regex_object.h"
#include "text/text.h"

namespace telvoro {

// A subject in the engine's form: the UTF-8 that GbkToUtf8 gives for the GBK
// subject, held alive by owner.
struct PreparedSubject {
  std::shared_ptr<const void> owner;
  std::string_view utf8;
  // The GBK subject, kept only where it may differ from Utf8ToGbk(utf8) (a
  // Text with bytes that name no character); null otherwise.
  std::shared_ptr<const Text> gbk;
};

PreparedSubject PrepareSubject(const Text& subject);

// The downloaded page (body up to its first zero byte, which is page) as the
// patterns see it: GbkToUtf8 of DecodePage of it. Without a copy when that is
// the page itself.
PreparedSubject PreparePage(std::shared_ptr<const Bytes> body, std::string_view page);

struct RegexObjectInternals {
  // RegexObject::Search on a subject prepared beforehand.
  static bool Search(RegexObject& object, const Text& pattern, PreparedSubject subject, bool caseSensitive = false,
                     bool multiLine = true, bool global = true, bool quotePlaceholder = false);
};

}  // namespace telvoro
