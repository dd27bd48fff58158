#include "text/text.h"

#include <gtest/gtest.h>

#include <optional>

namespace telvoro {
namespace {

Text U(const char* utf8) { return Text::FromUtf8(utf8); }

// "中" is D6 D0 in GBK and "文" is CE C4: two-byte characters whose bytes the
// searches must step over whole. "\xB0\x41" is 癆-like: a lead byte followed by
// the ASCII letter A as its trail byte.
const Text kTrailA("\xB0\x41");

TEST(Text, KeepsBytesUpToTheFirstZero) {
  EXPECT_EQ(Text(std::string_view("ab\0cd", 5)).Length(), 2);
  EXPECT_EQ(Text(nullptr), Text());
  EXPECT_EQ(ToText(Bytes{'a', 0, 'b'}), Text("a"));
  EXPECT_EQ(ToText(Bytes{}), Text());
  EXPECT_EQ(ToBytes(Text("ab")), (Bytes{'a', 'b'}));
  EXPECT_EQ(U("中文").Length(), 4);
}

TEST(Text, OrdersUnsignedByteByByte) {
  EXPECT_LT(Text("a"), Text("\xB0\xA1"));  // 0x61 < 0xB0 although char may be signed
  EXPECT_LT(Text("A"), Text("a"));
  EXPECT_LT(Text(""), Text("a"));
  EXPECT_NE(Text("a"), Text("A"));
}

struct FindCase {
  Text text, sought;
  int start;
  bool ignoreCase;
  int expected;
};

TEST(Text, Find) {
  const FindCase cases[] = {
      {"abcabc", "bc", 1, false, 2},
      {"abcabc", "bc", 3, false, 5},
      {"abcabc", "bc", -7, false, 2},   // start below 1: from the beginning
      {"abcabc", "bc", 7, false, -1},   // start past the end
      {"abcabc", "BC", 1, false, -1},
      {"abcabc", "BC", 1, true, 2},
      {"abc", "", 1, false, 1},         // empty sought in a non-empty part
      {"abc", "", 3, false, 1},
      {"", "", 1, false, -1},
      {"", "a", 1, false, -1},
      {"ab", "abc", 1, false, -1},
      // D6 D0 CE C4 holds the bytes D0 CE, which is another character: not found.
      {U("中文"), "\xD0\xCE", 1, false, -1},
      {U("中文"), U("文"), 1, false, 3},
      // The trail byte 41 ("A") is not a character of its own.
      {kTrailA, "A", 1, false, -1},
      {kTrailA, "a", 1, true, -1},
      {kTrailA + "A", "a", 1, true, 3},
      // Case folding touches ASCII letters only; the two-byte part must be exact.
      {Text("x") + kTrailA, Text("X\xB0\x41"), 1, true, 1},
      {Text("x") + kTrailA, Text("X\xB0\x61"), 1, true, -1},
  };
  for (const FindCase& c : cases)
    EXPECT_EQ(Find(c.text, c.sought, c.start, c.ignoreCase), c.expected)
        << c.text.ToUtf8() << " / " << c.sought.ToUtf8() << " from " << c.start;
}

TEST(Text, FindLast) {
  struct Case {
    Text text, sought;
    std::optional<int> start;
    int expected;
  } cases[] = {
      {"abcabc", "bc", std::nullopt, 5},
      {"abcabc", "bc", 100, 5},  // start past the length: the whole text
      {"abcabc", "bc", 7, 5},    // within the first 6 bytes
      {"abcabc", "bc", 6, 2},    // the second "bc" would end at byte 6
      {"abcabc", "bc", 1, -1},
      {"abcabc", "bc", 0, -1},
      {"abcabc", "x", std::nullopt, -1},
      {U("文中文"), U("文"), std::nullopt, 5},
      {U("中文"), "\xD0\xCE", std::nullopt, -1},
      {"a:b:c", ":", std::nullopt, 4},
  };
  for (const Case& c : cases)
    EXPECT_EQ(FindLast(c.text, c.sought, c.start), c.expected) << c.text.ToUtf8() << " / " << c.sought.ToUtf8();
}

TEST(Text, CutsCountBytes) {
  const Text t = U("a中b");  // 61 D6 D0 62
  EXPECT_EQ(Left(t, 2), Text("a\xD6"));  // a cut may split a character
  EXPECT_EQ(Left(t, 0), Text());
  EXPECT_EQ(Left(t, -1), Text());
  EXPECT_EQ(Left(t, 99), t);
  EXPECT_EQ(Right(t, 1), Text("b"));
  EXPECT_EQ(Right(t, 99), t);
  EXPECT_EQ(Right(t, -3), Text());
  EXPECT_EQ(Mid(t, 2, 2), U("中"));
  EXPECT_EQ(Mid(t, 3, 99), Text("\xD0" "b"));
  EXPECT_EQ(Mid(t, 0, 2), Text());
  EXPECT_EQ(Mid(t, 5, 1), Text());
  EXPECT_EQ(Mid(t, 4, 1), Text("b"));
  EXPECT_EQ(Mid(t, 1, 0), Text());
}

TEST(Text, Split) {
  using V = std::vector<Text>;
  EXPECT_EQ(Split("a;b;c", ";"), (V{"a", "b", "c"}));
  EXPECT_EQ(Split(";a;;b;", ";"), (V{"", "a", "", "b"}));  // no piece after the last delimiter when empty
  EXPECT_EQ(Split("", ";"), V{});
  EXPECT_EQ(Split("a;b", ""), (V{"a;b"}));
  EXPECT_EQ(Split("a\r\nb\r\n\r\n", "\r\n"), (V{"a", "b", ""}));
  EXPECT_EQ(Split(U("中文"), "\xD0\xCE"), (V{U("中文")}));
  EXPECT_EQ(Split(kTrailA + "A" + kTrailA, "A"), (V{kTrailA, kTrailA}));
}

TEST(Text, ReplaceText) {
  EXPECT_EQ(ReplaceText("aXbxc", "x", "-", true), Text("aXb-c"));
  EXPECT_EQ(ReplaceText("aXbxc", "x", "-", false), Text("a-b-c"));
  EXPECT_EQ(ReplaceText("aaaa", "aa", "b", true), Text("bb"));  // from the left, no overlap
  EXPECT_EQ(ReplaceText("abc", "b", Text(), true), Text("ac"));
  EXPECT_EQ(ReplaceText("", "b", "x", true), Text());
  EXPECT_EQ(ReplaceText("abc", "", "x", true), Text("abc"));
  EXPECT_EQ(ReplaceText(kTrailA, "A", "x", false), kTrailA);
  EXPECT_EQ(ReplaceText(U("中文"), "\xD0\xCE", "x", true), U("中文"));
  EXPECT_EQ(ReplaceText("set-cookie: a\r\nSET-COOKIE: b", "Set-Cookie", "Set-Cookie", false),
            Text("Set-Cookie: a\r\nSet-Cookie: b"));
}

TEST(Text, BlanksAreSpaceAndFullWidthSpace) {
  const Text full("\xA1\xA1");
  EXPECT_EQ(Trim(Text("  a b ") + full), Text("a b"));
  EXPECT_EQ(Trim(full + "a" + full + " "), Text("a"));
  EXPECT_EQ(Trim("\ta\r\n"), Text("\ta\r\n"));  // tabs and line breaks are not blanks
  EXPECT_EQ(Trim("   "), Text());
  EXPECT_EQ(Trim(""), Text());
  // A1 A1 inside "\xB0\xA1\xA1\xA1": B0 A1 is one character, A1 A1 the blank after it.
  EXPECT_EQ(Trim(Text("\xB0\xA1\xA1\xA1")), Text("\xB0\xA1"));
  // Here the bytes A1 A1 straddle two characters and are no blank.
  EXPECT_EQ(Trim(Text("\xB0\xA1\xA1\xB0")), Text("\xB0\xA1\xA1\xB0"));
  EXPECT_EQ(RemoveSpaces(Text(" a ") + full + "b c"), Text("abc"));
  EXPECT_EQ(RemoveSpaces(Text("\xB0\xA1\xA1\xB0")), Text("\xB0\xA1\xA1\xB0"));
}

TEST(Text, ToLowerFoldsAsciiOnly) {
  EXPECT_EQ(ToLower("HTTPS://A.B"), Text("https://a.b"));
  EXPECT_EQ(ToLower(kTrailA + "A"), kTrailA + "a");
  EXPECT_EQ(ToLower(U("中Ä")), U("中Ä"));
}

TEST(Text, ToInteger) {
  struct Case {
    Text text;
    int expected;
  } cases[] = {
      {"8080", 8080}, {"  -12x", -12}, {"+7", 7}, {"", 0}, {"x1", 0}, {"\t\n 42", 42},
      {U("８０"), 80},                // full-width digits
      {U("　－３"), -3},              // full-width space and minus
      {"99999999999", 2147483647},    // saturates instead of wrapping
      {"-99999999999", -2147483647 - 1},
  };
  for (const Case& c : cases) EXPECT_EQ(ToInteger(c.text), c.expected) << c.text.ToUtf8();
}

TEST(Text, TextBetween) {
  struct Case {
    Text text, left, right;
    int start;
    bool ignoreCase;
    Text expected;
  } cases[] = {
      {"<a>x</a><a>y</a>", "<a>", "</a>", 1, false, "x"},
      {"<a>x</a><a>y</a>", "<a>", "</a>", 2, false, "y"},
      {"<a></a>", "<a>", "</a>", 1, false, ""},
      {"<a>x", "<a>", "</a>", 1, false, ""},
      {"x</a>", "<a>", "</a>", 1, false, ""},
      {"<A>x</A>", "<a>", "</a>", 1, true, "x"},
      {"<A>x</A>", "<a>", "</a>", 1, false, ""},
      {"abc</a>", "", "</a>", 1, false, "abc"},   // empty left marker
      {"<a>x</a>", "<a>", "", 1, false, ""},      // empty right marker
      {"v=\"q\"", U("v=#引号"), U("#引号"), 1, false, "q"},
      {"t content-title\">4118</h2>", "title content-title\">", "</h2>", 1, false, ""},
      {"title content-title\">4118</h2>", "title content-title\">", "</h2>", 1, false, "4118"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(TextBetween(c.text, c.left, c.right, c.start, c.ignoreCase), c.expected) << c.text.ToUtf8();
}

}  // namespace
}  // namespace telvoro
