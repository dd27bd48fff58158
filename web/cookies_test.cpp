#include "web/cookies.h"

#include <gtest/gtest.h>

namespace telvoro {
namespace {

struct MergeCase {
  const char* what;
  const char* cookies;
  const char* received;
  const char* merged;
  const char* receivedAfter;
};

const MergeCase kMergeCases[] = {
    {"received replace old of the same name", "a=1; b=2", "b=3; c=4", "b=3; c=4; a=1", "b=3;c=4"},
    {"a deleted cookie removes the old one", "a=1; b=2", "a=deleted", "b=2", "a=deleted"},
    {"an old deleted cookie is dropped", "a=deleted; b=2", "c=3", "c=3; b=2", "c=3"},
    {"=deleted counts byte-exactly", "a=DELETED", "", "a=DELETED", ""},
    {"only the first old piece of a name", "a=1; a=2", "", "a=1", ""},
    {"one name received twice keeps both", "", "a=1; a=2", "a=1; a=2", "a=1;a=2"},
    {"exact repeats go", "", "a=1; a=1", "a=1", "a=1;a=1"},
    {"blanks go, inside values too", "a=x y", "", "a=xy", ""},
    {"full-width blanks go as well", "a=x\xA1\xA1y", "", "a=xy", ""},
    {"names differ by letter case", "a=2", "A=1", "A=1; a=2", "A=1"},
    {"a trailing ; adds nothing", "a=1;", "b=2;", "b=2; a=1", "b=2;"},
    {"an empty piece survives once", "a=1; ; b=2; ; c=3", "", "a=1; ; b=2; c=3", ""},
    {"both empty", "", "", "", ""},
    {"empty cookies take the received", "", "x=1; y = 2; z=deleted; x=1", "x=1; y=2", "x=1;y=2;z=deleted;x=1"},
    {"a piece without =", "flag; a=1", "flag", "flag; a=1", "flag"},
    {"a name with blanks around it", "a =1", "a= 2", "a=2", "a=2"},
};

TEST(MergeCookies, Table) {
  for (const MergeCase& c : kMergeCases) {
    SCOPED_TRACE(c.what);
    Text cookies = c.cookies;
    Text received = c.received;
    const Text result = MergeCookies(cookies, received);
    EXPECT_EQ(result, Text(c.merged));
    EXPECT_EQ(cookies, Text(c.merged));
    EXPECT_EQ(received, Text(c.receivedAfter));
  }
}

TEST(MergeCookies, Routines) {
  EXPECT_EQ(CookieName(" a = 1"), Text("a"));
  EXPECT_EQ(CookieName(" flag "), Text("flag"));
  EXPECT_EQ(CookieName("=v"), Text(""));
  EXPECT_EQ(CookieName("a=b=c"), Text("a"));

  const std::vector<Text> pieces = {"a=1", "B=2", "", "a=1"};
  EXPECT_TRUE(HasCookieNamed(pieces, "B"));
  EXPECT_FALSE(HasCookieNamed(pieces, "b"));
  EXPECT_TRUE(HasCookieNamed(pieces, ""));
  EXPECT_FALSE(HasCookieNamed({}, ""));

  EXPECT_EQ(IndexOfText(pieces, "a=1"), 1);
  EXPECT_EQ(IndexOfText(pieces, ""), 3);
  EXPECT_EQ(IndexOfText(pieces, "b=2"), -1);
  EXPECT_EQ(IndexOfText({}, "a"), -1);

  EXPECT_EQ(JoinDistinct("a; b; a; c; b", "; "), Text("a; b; c"));
  EXPECT_EQ(JoinDistinct("a,,b,,", ","), Text("a,,b"));
  EXPECT_EQ(JoinDistinct("", "; "), Text(""));
  EXPECT_EQ(JoinDistinct("abc", ""), Text("abc"));
}

}  // namespace
}  // namespace telvoro
