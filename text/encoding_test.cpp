#include "text/encoding.h"

#include <gtest/gtest.h>

#include "text/text.h"

namespace telvoro {
namespace {

TEST(Encoding, ChineseRoundTrips) {
  const std::string utf8 = "视频地址：迷你播放 abc";
  const std::string gbk = Utf8ToGbk(utf8);
  EXPECT_EQ(gbk.substr(0, 4), "\xCA\xD3\xC6\xB5");  // 视频
  EXPECT_EQ(GbkToUtf8(Utf8ToGbk("视频地址：迷你播放 abc")), "视频地址：迷你播放 abc");
  EXPECT_EQ(GbkLengthOfUtf8(utf8), gbk.size());
  EXPECT_EQ(Utf16ToGbk(GbkToUtf16(gbk)), gbk);
  EXPECT_EQ(GbkToUtf16(Utf8ToGbk("中a")), u"中a");
  EXPECT_EQ(Text::FromUtf8("中").ToUtf8(), "中");
}

TEST(Encoding, SubstitutesWhatGbkLacks) {
  struct Case {
    std::string utf8, gbk;
  } cases[] = {
      {"a\xF0\x9F\x98\x80z", "a?z"},    // beyond the BMP
      {"a\xFFz", "a?z"},                // a byte that never starts UTF-8
      {"a\xE4\xB8z", "a?z"},            // a truncated sequence, its maximal prefix replaced once
      {"a\xC0\xAFz", "a??z"},           // an overlong form
      {"a\xED\xA0\x80z", "a???z"},      // an encoded surrogate
      {"\xE4\xB8", "?"},                // truncated at the very end: nothing read past it
      {std::string("a\0b", 3), std::string("a\0b", 3)},
      {"\xE2\x82\xAC", "\x80"},         // the euro sign has a single byte in code page 936
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Utf8ToGbk(c.utf8), c.gbk);
    EXPECT_EQ(GbkLengthOfUtf8(c.utf8), c.gbk.size());
  }
  // A character that GBK lacks becomes a look-alike where one exists, else "?".
  const std::string lookAlike = Utf8ToGbk("\xE1\xBA\xA0");  // Ạ
  EXPECT_TRUE(lookAlike == "A" || lookAlike == "?") << lookAlike;
}

TEST(Encoding, MalformedGbkBecomesReplacementCharacters) {
  EXPECT_EQ(GbkToUtf8("a\xFF"), "a\xEF\xBF\xBD");
  EXPECT_EQ(GbkToUtf8("\xB0"), "\xEF\xBF\xBD");           // a lead byte at the very end
  EXPECT_EQ(GbkToUtf8("\xB0\x22x"), "\xEF\xBF\xBD\"x");   // a lead byte never swallows an ASCII quote
  EXPECT_EQ(GbkToUtf8("\x80"), "\xE2\x82\xAC");
}

TEST(Encoding, Utf8SurvivesGbkExactlyWhenTheRoundTripIsTheIdentity) {
  const std::string cases[] = {
      "", "abc", "视频地址：迷你播放", "\xE2\x82\xAC", "a\xF0\x9F\x98\x80", "\xEF\xBF\xBD", "a\xFFz",
      "\xE4\xB8", "\xC0\xAF", "\xED\xA0\x80", "\xE1\xBA\xA0", "\xEA\xB0\x80" /* Hangul */, "\xC3\xA9",
  };
  for (const std::string& utf8 : cases)
    EXPECT_EQ(Utf8SurvivesGbk(utf8), GbkToUtf8(Utf8ToGbk(utf8)) == utf8) << utf8;
}

TEST(Encoding, ConvertStrict) {
  EXPECT_EQ(ConvertStrict("\xE4\xB8\xAD", "UTF-8", "GBK"), std::optional<std::string>("\xD6\xD0"));
  EXPECT_EQ(ConvertStrict("\xE4\xB8", "UTF-8", "GBK"), std::nullopt);             // truncated
  EXPECT_EQ(ConvertStrict("\xF0\x9F\x98\x80", "UTF-8", "GBK"), std::nullopt);     // not in GBK
  EXPECT_EQ(ConvertStrict("abc", "UTF-8", "no-such-encoding"), std::nullopt);
  EXPECT_EQ(ConvertStrict("", "UTF-8", "GBK"), std::optional<std::string>(""));
  const std::string big(100000, 'x');
  EXPECT_EQ(ConvertStrict(big, "UTF-8", "UTF-16LE")->size(), 200000u);  // output larger than the first guess
}

}  // namespace
}  // namespace telvoro
