#pragma once
// What the resolver needs of RegexObject beyond its public face: the page is
// converted to the engine's form once and shared by the three rows, instead of
// once per row. The results are the same as those of RegexObject::Search.

#include <memory>
#include <string>

#include "resolve/regex_object.h"
#include "text/text.h"

namespace telvoro {

// A GBK subject together with its UTF-8 form (always GbkToUtf8 of the GBK).
struct PreparedSubject {
  std::shared_ptr<const Text> gbk;
  std::shared_ptr<const std::string> utf8;
};

PreparedSubject PrepareSubject(Text subject);

struct RegexObjectInternals {
  // RegexObject::Search on a subject converted beforehand.
  static bool Search(RegexObject& object, const Text& pattern, PreparedSubject subject, bool caseSensitive = false,
                     bool multiLine = true, bool global = true, bool quotePlaceholder = false);
};

}  // namespace telvoro
