#include <gtest/gtest.h>

#include "web/web_request.h"

namespace telvoro {
namespace {

struct UrlCase {
  const char* address;
  const char* host;
  const char* hostWithPort;
  int port;
  const char* path;
};

// The last rows are addresses whose host letters, or an "http://", also stand
// earlier or later in the address: the host and the object name come from the
// address's own scheme marker and host.
const UrlCase kUrlCases[] = {
    {"http://a.b.c/x/y.html?z=1", "a.b.c", "a.b.c", 80, "/x/y.html?z=1"},
    {"HTTPS://A.B.C/X", "a.b.c", "a.b.c", 443, "/X"},
    {"http://a.b.c:8080/x", "a.b.c", "a.b.c:8080", 8080, "/x"},
    {"https://a.b.c:8443/x", "a.b.c", "a.b.c:8443", 8443, "/x"},
    {"a.b.c/x", "a.b.c", "a.b.c", 80, "/x"},
    {"http://a.b.c", "a.b.c", "a.b.c", 80, "/"},
    {"http://a.b.c:/x", "a.b.c", "a.b.c:", 0, "/x"},
    {"http://a.b.c/x#frag", "a.b.c", "a.b.c", 80, "/x#frag"},
    {"a.b.c:81/x", "a.b.c", "a.b.c:81", 81, "/x"},
    {"http://a.b.c:99x/", "a.b.c", "a.b.c:99x", 99, "/"},
    {"", "", "", 80, "/"},
    // an "http://" later in an address without a scheme
    {"a.b.c/?u=http://d.e/", "a.b.c", "a.b.c", 80, "/?u=http://d.e/"},
    {"www.x.com/play?next=https://y.com/z", "www.x.com", "www.x.com", 80, "/play?next=https://y.com/z"},
    // the host's letters inside the scheme or elsewhere in front of the host
    {"https://s/x", "s", "s", 443, "/x"},
    {"http://ttp/http://ttp/x", "ttp", "ttp", 80, "/http://ttp/x"},
    {"http://h/p?u=https://x:1/y", "h", "h", 80, "/p?u=https://x:1/y"},
    // another scheme is the address's own as well: its host is what follows it
    {"ftp://f.g/x", "f.g", "f.g", 80, "/x"},
};

TEST(UrlParts, Table) {
  for (const UrlCase& c : kUrlCases) {
    SCOPED_TRACE(c.address);
    EXPECT_EQ(UrlHost(c.address), Text(c.host));
    EXPECT_EQ(UrlHost(c.address, true), Text(c.hostWithPort));
    EXPECT_EQ(UrlPort(c.address), c.port);
    EXPECT_EQ(UrlPath(c.address), Text(c.path));
  }
}

TEST(UrlParts, PathKeepsTheCallersLetterCaseAndGbkBytes) {
  const Text address = Text("http://A.B.C/") + Text::FromUtf8("视频/X.html?Q=中");
  EXPECT_EQ(UrlHost(address), Text("a.b.c"));
  EXPECT_EQ(UrlPath(address), Text("/") + Text::FromUtf8("视频/X.html?Q=中"));
}

TEST(UrlParts, ValueAfterColon) {
  const struct {
    const char* text;
    const char* value;
  } cases[] = {
      {"User-Agent: X", "X"},
      {"no colon", ""},
      {"", ""},
      {":", ""},
      {"a: b: c ", "b: c"},
      {"  x:   y  ", "y"},
      {"a:\xA1\xA1y\xA1\xA1", "y"},  // full-width blanks are trimmed too
      {"a:\tb", "\tb"},             // a tab is no blank
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ValueAfterColon(c.text), Text(c.value));
  }
}

}  // namespace
}  // namespace telvoro
