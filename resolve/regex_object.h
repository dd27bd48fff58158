#pragma once
// RegexObject: regular-expression searches over Texts, matching over characters
// (not GBK bytes). One object serves one search at a time; matches and capture
// groups are read afterwards by 1-based index. Every failure reads as an empty
// value: the empty Text, 0, false.

#include <memory>

#include "text/text.h"

namespace telvoro {

class RegexObject {
 public:
  RegexObject();
  ~RegexObject();
  RegexObject(const RegexObject& other);
  RegexObject& operator=(const RegexObject& other);

  // Replaces whatever the object held. "." never matches a line feed. With
  // quotePlaceholder each "#引号" in the pattern stands for a double quote.
  // False when the pattern is rejected.
  bool Search(const Text& pattern, const Text& subject, bool caseSensitive = false, bool multiLine = true,
              bool global = true, bool quotePlaceholder = false);
  void Reserved() {}
  Text GetPattern() const;
  Text ReplaceMatches(const Text& replacement) const;
  int MatchCount() const;
  // position, when given, receives the match's 0-based byte offset in the subject.
  Text MatchText(int index, int* position = nullptr) const;
  Text SubMatchText(int matchIndex, int subMatchIndex, int* position = nullptr) const;
  int SubMatchCount() const;

 private:
  struct State;
  // Lets the resolver hand all of its rows one converted page.
  friend struct RegexObjectInternals;
  std::shared_ptr<const State> state_;
};

}  // namespace telvoro
