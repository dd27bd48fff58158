#include "resolve/regex_object.h"

#include <re2/re2.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "resolve/regex_object_internal.h"
#include "text/encoding.h"

namespace telvoro {
namespace {

// Whole pages of several megabytes are searched. RE2 only takes this memory
// as its automata grow; too small a budget makes its DFA give up on a large
// page and fall back to the much slower NFA.
constexpr std::int64_t kEngineMemory = std::int64_t{128} << 20;

// Offsets of a match or a group in the UTF-8 subject; npos for a group that
// took no part in the match.
struct Span {
  std::size_t begin = std::string::npos;
  std::size_t end = std::string::npos;
  bool TookPart() const { return begin != std::string::npos; }
};
using Match = std::vector<Span>;  // [0] is the whole match

std::size_t Utf8SequenceLength(unsigned char lead) {
  if (lead >= 0xF0) return 4;
  if (lead >= 0xE0) return 3;
  if (lead >= 0xC0) return 2;
  return 1;
}

std::string_view Piece(std::string_view subject, const Span& span) {
  if (!span.TookPart()) return {};
  return subject.substr(span.begin, span.end - span.begin);
}

}  // namespace

struct RegexObject::State {
  Text pattern;  // as the engine got it, placeholders replaced, in GBK
  std::unique_ptr<const re2::RE2> engine;
  PreparedSubject subject;
  bool global = true;
  int groups = 0;

  // Matches are found as they are asked for: the usual reader only wants the
  // first one, and a page can hold many.
  mutable std::mutex mutex;
  mutable std::vector<Match> matches;
  mutable std::size_t next = 0;
  mutable bool exhausted = false;
  // The last UTF-8 offset turned into a GBK offset, so that positions asked
  // for left to right cost one pass over the subject in all.
  mutable std::size_t knownUtf8 = 0;
  mutable std::size_t knownGbk = 0;
  // The GBK subject, made from the UTF-8 when a position is first asked for.
  mutable std::shared_ptr<const Text> gbk;

  std::string_view Utf8() const { return subject.utf8; }

  // The caller holds mutex in each of these.
  bool FindNext() const {
    if (exhausted) return false;
    const std::string_view text = Utf8();
    if (next > text.size() || (!global && !matches.empty())) {
      exhausted = true;
      return false;
    }
    // RE2 reports an empty match of a null text as no part taken.
    const char* base = text.empty() ? "" : text.data();
    std::vector<re2::StringPiece> pieces(static_cast<std::size_t>(groups) + 1);
    if (!engine->Match(re2::StringPiece(base, text.size()), next, text.size(), re2::RE2::UNANCHORED, pieces.data(),
                       groups + 1)) {
      exhausted = true;
      return false;
    }
    Match match(pieces.size());
    for (std::size_t i = 0; i < pieces.size(); ++i) {
      if (pieces[i].data() == nullptr) continue;
      const auto begin = static_cast<std::size_t>(pieces[i].data() - base);
      match[i] = Span{begin, begin + pieces[i].size()};
    }
    const std::size_t end = match[0].end;
    if (match[0].begin == end) {
      // An empty match: the next search starts one character further on.
      next = end < text.size()
                 ? end + std::min(Utf8SequenceLength(static_cast<unsigned char>(text[end])), text.size() - end)
                 : text.size() + 1;
    } else {
      next = end;
    }
    matches.push_back(std::move(match));
    return true;
  }

  const Match* MatchAt(int index) const {
    if (index < 1) return nullptr;
    const auto wanted = static_cast<std::size_t>(index);
    while (matches.size() < wanted && FindNext()) {
    }
    return matches.size() >= wanted ? &matches[wanted - 1] : nullptr;
  }

  void FindAll() const {
    while (FindNext()) {
    }
  }

  // The 0-based byte offset in the GBK subject where the match begins.
  int GbkOffset(const Match& match) const {
    const std::string_view text = Utf8();
    if (!gbk) gbk = subject.gbk ? subject.gbk : std::make_shared<const Text>(Utf8ToGbk(text));
    const std::string& bytes = gbk->bytes();
    const std::size_t at = match[0].begin;
    // Every well-formed GBK character becomes one UTF-8 character and back,
    // so the GBK length of what stands in front of the match is its offset.
    if (at < knownUtf8) knownUtf8 = knownGbk = 0;
    const std::size_t guess = knownGbk + GbkLengthOfUtf8(text.substr(knownUtf8, at - knownUtf8));
    const std::string matched = Utf8ToGbk(Piece(text, match[0]));
    if (guess <= bytes.size() && bytes.compare(guess, matched.size(), matched) == 0) {
      knownUtf8 = at;
      knownGbk = guess;
      return static_cast<int>(guess);
    }
    // A subject with byte sequences that name no character: their substitutes
    // need not have their length, so count character by character.
    std::size_t utf8 = 0;
    std::size_t offset = 0;
    while (offset < bytes.size() && utf8 < at) {
      if (static_cast<unsigned char>(bytes[offset]) < 0x80) {
        ++utf8;
        ++offset;
        continue;
      }
      const std::size_t unit = offset + 1 < bytes.size() ? 2 : 1;
      utf8 += GbkToUtf8(std::string_view(bytes).substr(offset, unit)).size();
      offset += unit;
    }
    return static_cast<int>(offset);
  }

  // Group `group` of match `index`; position, when asked for, is where the
  // whole match begins. Takes the lock itself.
  Text Read(int index, int group, int* position) const {
    if (group < 0 || group > groups) return {};
    const std::lock_guard lock(mutex);
    const Match* match = MatchAt(index);
    if (match == nullptr) return {};
    if (position != nullptr) *position = GbkOffset(*match);
    return Text(Utf8ToGbk(Piece(Utf8(), (*match)[static_cast<std::size_t>(group)])));
  }

  // The replacement's "$1".."$99", "$&", "$`", "$'" and "$$", as a browser's
  // String.replace reads them; any other "$" stands for itself.
  void AppendReplacement(std::string& out, std::string_view replacement, const Match& match) const {
    const std::string_view text = Utf8();
    auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    for (std::size_t i = 0; i < replacement.size(); ++i) {
      const char c = replacement[i];
      if (c != '$' || i + 1 == replacement.size()) {
        out += c;
        continue;
      }
      const char n = replacement[i + 1];
      if (n == '$') {
        out += '$';
        ++i;
      } else if (n == '&') {
        out += Piece(text, match[0]);
        ++i;
      } else if (n == '`') {
        out += text.substr(0, match[0].begin);
        ++i;
      } else if (n == '\'') {
        out += text.substr(match[0].end);
        ++i;
      } else if (isDigit(n)) {
        const int one = n - '0';
        const int two = i + 2 < replacement.size() && isDigit(replacement[i + 2]) ? one * 10 + (replacement[i + 2] - '0')
                                                                                   : -1;
        if (two >= 1 && two <= groups) {
          out += Piece(text, match[static_cast<std::size_t>(two)]);
          i += 2;
        } else if (one >= 1 && one <= groups) {
          out += Piece(text, match[static_cast<std::size_t>(one)]);
          i += 1;
        } else {
          out += '$';
        }
      } else {
        out += '$';
      }
    }
  }
};

PreparedSubject PrepareSubject(const Text& subject) {
  auto utf8 = std::make_shared<const std::string>(GbkToUtf8(subject.bytes()));
  PreparedSubject prepared;
  prepared.utf8 = *utf8;
  prepared.owner = std::move(utf8);
  prepared.gbk = std::make_shared<const Text>(subject);
  return prepared;
}

bool RegexObjectInternals::Search(RegexObject& object, const Text& pattern, PreparedSubject subject,
                                  bool caseSensitive, bool multiLine, bool global, bool quotePlaceholder) {
  object.state_.reset();
  auto state = std::make_shared<RegexObject::State>();
  state->pattern =
      quotePlaceholder ? ReplaceText(pattern, Text::FromUtf8("#引号"), Text("\""), true) : pattern;

  re2::RE2::Options options;
  options.set_encoding(re2::RE2::Options::EncodingUTF8);
  options.set_case_sensitive(caseSensitive);
  options.set_max_mem(kEngineMemory);
  options.set_log_errors(false);
  // "." leaves line feeds alone by default; "(?m)" lets ^ and $ meet line breaks.
  std::string source = multiLine ? "(?m)" : "";
  source += GbkToUtf8(state->pattern.bytes());
  auto engine = std::make_unique<const re2::RE2>(source, options);
  if (!engine->ok()) return false;

  state->groups = engine->NumberOfCapturingGroups();
  state->engine = std::move(engine);
  state->subject = std::move(subject);
  state->global = global;
  object.state_ = std::move(state);
  return true;
}

RegexObject::RegexObject() = default;
RegexObject::~RegexObject() = default;
RegexObject::RegexObject(const RegexObject& other) = default;
RegexObject& RegexObject::operator=(const RegexObject& other) = default;

bool RegexObject::Search(const Text& pattern, const Text& subject, bool caseSensitive, bool multiLine, bool global,
                         bool quotePlaceholder) {
  return RegexObjectInternals::Search(*this, pattern, PrepareSubject(subject), caseSensitive, multiLine, global,
                                      quotePlaceholder);
}

Text RegexObject::GetPattern() const { return state_ ? state_->pattern : Text(); }

Text RegexObject::ReplaceMatches(const Text& replacement) const {
  if (!state_) return {};
  const State& s = *state_;
  const std::lock_guard lock(s.mutex);
  if (s.global) {
    s.FindAll();
  } else {
    s.MatchAt(1);
  }
  const std::string_view text = s.Utf8();
  const std::string rule = GbkToUtf8(replacement.bytes());
  std::string out;
  out.reserve(text.size());
  std::size_t copied = 0;
  for (const Match& match : s.matches) {
    out += text.substr(copied, match[0].begin - copied);
    s.AppendReplacement(out, rule, match);
    copied = match[0].end;
  }
  out += text.substr(copied);
  return Text(Utf8ToGbk(out));
}

int RegexObject::MatchCount() const {
  if (!state_) return 0;
  const std::lock_guard lock(state_->mutex);
  state_->FindAll();
  return static_cast<int>(state_->matches.size());
}

Text RegexObject::MatchText(int index, int* position) const {
  return state_ ? state_->Read(index, 0, position) : Text();
}

Text RegexObject::SubMatchText(int matchIndex, int subMatchIndex, int* position) const {
  // Group 0 is the whole match, MatchText's business.
  if (!state_ || subMatchIndex < 1) return {};
  return state_->Read(matchIndex, subMatchIndex, position);
}

int RegexObject::SubMatchCount() const {
  if (!state_) return 0;
  const std::lock_guard lock(state_->mutex);
  return state_->MatchAt(1) != nullptr ? state_->groups : 0;
}

}  // namespace telvoro
