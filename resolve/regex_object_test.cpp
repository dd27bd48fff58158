#include "resolve/regex_object.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "text/text.h"

namespace telvoro {
namespace {

// Our sources are UTF-8; Texts are GBK.
Text U(const char* utf8) { return Text::FromUtf8(utf8); }

TEST(RegexObject, FreshObjectReadsEmpty) {
  const RegexObject re;
  EXPECT_EQ(re.MatchCount(), 0);
  EXPECT_EQ(re.GetPattern(), Text());
  EXPECT_EQ(re.SubMatchText(1, 1), Text());
  EXPECT_EQ(re.MatchText(1), Text());
  EXPECT_EQ(re.SubMatchCount(), 0);
  EXPECT_EQ(re.ReplaceMatches("x"), Text());
  int position = 77;
  EXPECT_EQ(re.MatchText(1, &position), Text());
  EXPECT_EQ(position, 77);
}

// SubMatchText(1, 1) after Search with the default options: ignore case,
// multi-line, global, no placeholder.
struct FirstGroupCase {
  const char* name;
  Text pattern;
  Text subject;
  Text expected;
};

TEST(RegexObject, FirstGroupWithDefaultOptions) {
  const std::vector<FirstGroupCase> cases = {
      {"no match", "a(b)c", "xyz", ""},
      {"empty first group", "value=\"http://(.*?)swf\" >", "value=\"http://swf\" >", ""},
      {"capitals in the subject", "value=\"http://(.*?)swf\" >", "VALUE=\"HTTP://Player.X/v/AbC.SWF\" >",
       "Player.X/v/AbC."},
      {"lazy group stops at the first end marker", "a(.*?)b", "a12b34b", "12"},
      {"dot never crosses a line feed", "a(.*?)b", "a1\nb a2b", "2"},
      {"first match only", "x(.)", "xa xb", "a"},
      {"empty subject", "a(b)", "", ""},
      {"dot takes a whole Chinese character", U("(.)好"), U("你好"), U("你")},
      {"Chinese text in the pattern", U("标题：(.*?)。"), U("<p>标题：测试一下。</p>"), U("测试一下")},
      // 丄 is 81 41 in GBK: its trail byte is an "A" to a byte-wise matcher.
      {"no match inside a double-byte character", "a(.)", U("丄x"), ""},
      {"caret at a line start", "^b(.)", "ab\nbc", "c"},
      {"dollar at a line end", "(.)$", "ab\ncd", "b"},
      {"placeholder not replaced by default", U("t=#引号(.*?)#引号"), U("t=\"a\" t=#引号b#引号"), "b"},
      {"group that took no part", "(a)|b", "b", ""},
      {"multi-line flag and an alternation", "^z|(y)", "a\nz y", ""},
  };
  for (const auto& c : cases) {
    RegexObject re;
    EXPECT_TRUE(re.Search(c.pattern, c.subject)) << c.name;
    EXPECT_EQ(re.SubMatchText(1, 1), c.expected) << c.name;
  }
}

TEST(RegexObject, Options) {
  RegexObject re;
  ASSERT_TRUE(re.Search("abc(.)", "xABCd", /*caseSensitive=*/true));
  EXPECT_EQ(re.MatchCount(), 0);
  ASSERT_TRUE(re.Search("abc(.)", "xABCd", /*caseSensitive=*/false));
  EXPECT_EQ(re.SubMatchText(1, 1), Text("d"));

  // Without multi-line, ^ and $ only meet the ends of the subject.
  ASSERT_TRUE(re.Search("^b(.)", "ab\nbc", false, /*multiLine=*/false));
  EXPECT_EQ(re.SubMatchText(1, 1), Text());
  ASSERT_TRUE(re.Search("(.)$", "ab\ncd", false, /*multiLine=*/false));
  EXPECT_EQ(re.SubMatchText(1, 1), Text("d"));

  ASSERT_TRUE(re.Search("a", "banana", false, true, /*global=*/false));
  EXPECT_EQ(re.MatchCount(), 1);
  EXPECT_EQ(re.MatchText(2), Text());
  ASSERT_TRUE(re.Search("a", "banana", false, true, /*global=*/true));
  EXPECT_EQ(re.MatchCount(), 3);
  EXPECT_EQ(re.MatchText(3), Text("a"));

  // Each placeholder stands for one double quote.
  ASSERT_TRUE(re.Search(U("t=#引号(.*?)#引号"), U("t=#引号b#引号 t=\"a\""), false, true, true,
                        /*quotePlaceholder=*/true));
  EXPECT_EQ(re.SubMatchText(1, 1), Text("a"));
  EXPECT_EQ(re.GetPattern(), Text("t=\"(.*?)\""));
}

TEST(RegexObject, IndexesOutOfRange) {
  RegexObject re;
  ASSERT_TRUE(re.Search("(a)(b)?", "a ab"));
  EXPECT_EQ(re.SubMatchCount(), 2);
  EXPECT_EQ(re.SubMatchText(1, 1), Text("a"));
  EXPECT_EQ(re.SubMatchText(1, 2), Text());  // took no part
  EXPECT_EQ(re.SubMatchText(2, 2), Text("b"));
  EXPECT_EQ(re.SubMatchText(1, 3), Text());
  EXPECT_EQ(re.SubMatchText(3, 1), Text());
  EXPECT_EQ(re.SubMatchText(0, 1), Text());
  EXPECT_EQ(re.SubMatchText(1, 0), Text());
  EXPECT_EQ(re.SubMatchText(-1, -1), Text());
  EXPECT_EQ(re.MatchText(0), Text());
  EXPECT_EQ(re.MatchText(3), Text());

  ASSERT_TRUE(re.Search("(a)(b)", "xyz"));
  EXPECT_EQ(re.SubMatchCount(), 0);
}

TEST(RegexObject, SecondSearchReplacesTheFirst) {
  RegexObject re;
  ASSERT_TRUE(re.Search("a(.)", "ab ac"));
  EXPECT_EQ(re.MatchCount(), 2);
  ASSERT_TRUE(re.Search("x(.)", "xy"));
  EXPECT_EQ(re.GetPattern(), Text("x(.)"));
  EXPECT_EQ(re.MatchCount(), 1);
  EXPECT_EQ(re.SubMatchText(1, 1), Text("y"));
  EXPECT_EQ(re.MatchText(2), Text());
  ASSERT_TRUE(re.Search("q(.)", "ab ac"));
  EXPECT_EQ(re.MatchCount(), 0);
  EXPECT_EQ(re.SubMatchText(1, 1), Text());
}

TEST(RegexObject, RejectedPatternLeavesEverythingEmpty) {
  // The last one is fine for a backtracking engine but not for RE2.
  for (const Text& pattern : {Text("a(b"), Text("*a"), Text("(a)\\1")}) {
    RegexObject re;
    ASSERT_TRUE(re.Search("a(b)", "ab"));
    EXPECT_FALSE(re.Search(pattern, "ab ab")) << pattern.bytes();
    EXPECT_EQ(re.MatchCount(), 0);
    EXPECT_EQ(re.SubMatchCount(), 0);
    EXPECT_EQ(re.SubMatchText(1, 1), Text());
    EXPECT_EQ(re.MatchText(1), Text());
    EXPECT_EQ(re.GetPattern(), Text());
    EXPECT_EQ(re.ReplaceMatches("x"), Text());
  }
}

TEST(RegexObject, EmptyMatchesStepOverWholeCharacters) {
  RegexObject re;
  ASSERT_TRUE(re.Search("x*", U("你好")));
  EXPECT_EQ(re.MatchCount(), 3);  // before, between and after the two characters
  ASSERT_TRUE(re.Search("x*", ""));
  EXPECT_EQ(re.MatchCount(), 1);
  int position = -5;
  EXPECT_EQ(re.MatchText(1, &position), Text());
  EXPECT_EQ(position, 0);
  ASSERT_TRUE(re.Search("a*", "baaac"));
  ASSERT_EQ(re.MatchCount(), 4);
  EXPECT_EQ(re.MatchText(2), Text("aaa"));
}

struct PositionCase {
  const char* name;
  Text pattern;
  Text subject;
  int match;
  Text text;
  int position;  // 0-based byte offset in the GBK subject
};

TEST(RegexObject, PositionsAreByteOffsetsInTheSubject) {
  const std::vector<PositionCase> cases = {
      {"start of an ASCII subject", "ab", "abcd", 1, "ab", 0},
      {"offset 5 of an ASCII subject", "abc", "xxxxxabc", 1, "abc", 5},
      {"after double-byte characters", "abc", U("你好abc"), 1, "abc", 4},
      // Counting characters instead of bytes would start looking at offset 4
      // and report the first "b" again.
      {"same text earlier", "b", U("你你b你b"), 2, "b", 7},
      {"later match after Chinese text", "a.", U("a1中文a2中a3"), 3, "a3", 10},
      // A2 A0 names no GBK character: its stand-in is shorter than it is.
      {"after bytes that name no character", "ab", Text("\xA2\xA0xab"), 1, "ab", 3},
  };
  for (const auto& c : cases) {
    RegexObject re;
    ASSERT_TRUE(re.Search(c.pattern, c.subject)) << c.name;
    int position = -5;
    EXPECT_EQ(re.MatchText(c.match, &position), c.text) << c.name;
    EXPECT_EQ(position, c.position) << c.name;
  }

  // SubMatchText reports where the whole match begins, not the group.
  RegexObject re;
  ASSERT_TRUE(re.Search("a(b)", U("xx你ab")));
  int position = -5;
  EXPECT_EQ(re.SubMatchText(1, 1, &position), Text("b"));
  EXPECT_EQ(position, 4);
  // Positions asked for out of order.
  ASSERT_TRUE(re.Search("a", U("中a中a中a")));
  EXPECT_EQ(re.MatchText(3, &position), Text("a"));
  EXPECT_EQ(position, 8);
  EXPECT_EQ(re.MatchText(1, &position), Text("a"));
  EXPECT_EQ(position, 2);
  // A missing match leaves the position alone.
  position = -5;
  EXPECT_EQ(re.MatchText(4, &position), Text());
  EXPECT_EQ(position, -5);
}

struct ReplaceCase {
  const char* name;
  Text pattern;
  Text subject;
  bool global;
  Text replacement;
  Text expected;
};

TEST(RegexObject, ReplaceMatches) {
  const std::vector<ReplaceCase> cases = {
      {"global", "a", "banana", true, "o", "bonono"},
      {"first only", "a", "banana", false, "o", "bonana"},
      {"no match", "q", "banana", true, "o", "banana"},
      {"groups", "(\\w+)@(\\w+)", "x@y z@w", true, "$2@$1", "y@x w@z"},
      {"whole match and dollar", "b", "abc", true, "[$&$$]", "a[b$]c"},
      {"before and after", "b", "abc", true, "<$`|$'>", "a<a|c>c"},
      {"group beyond the pattern stays literal", "(b)", "abc", true, "$2$1$", "a$2b$c"},
      {"two-digit group", "(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)(k)", "abcdefghijk", true, "$11$10$1", "kja"},
      {"Chinese", U("好"), U("你好你好"), true, U("坏"), U("你坏你坏")},
      {"removal", "[0-9]", "a1b2", true, "", "ab"},
  };
  for (const auto& c : cases) {
    RegexObject re;
    ASSERT_TRUE(re.Search(c.pattern, c.subject, false, true, c.global)) << c.name;
    EXPECT_EQ(re.ReplaceMatches(c.replacement), c.expected) << c.name;
  }
}

TEST(RegexObject, CopiesKeepTheirSearch) {
  RegexObject re;
  ASSERT_TRUE(re.Search("a(.)", "ab ac"));
  const RegexObject copy(re);
  ASSERT_TRUE(re.Search("x(.)", "xy"));
  EXPECT_EQ(copy.MatchCount(), 2);
  EXPECT_EQ(copy.SubMatchText(2, 1), Text("c"));
  RegexObject assigned;
  assigned = copy;
  EXPECT_EQ(assigned.GetPattern(), Text("a(.)"));
  EXPECT_EQ(re.SubMatchText(1, 1), Text("y"));
}

}  // namespace
}  // namespace telvoro
