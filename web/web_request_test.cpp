// WebRequest against servers on 127.0.0.1 that record every request byte and
// answer with canned responses.

#include "web/web_request.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>

#include "web/testing/loopback_server.h"

namespace telvoro {
namespace {

using testing::CannedReply;
using testing::HttpResponse;
using testing::LoopbackServer;
using testing::RecordedRequest;

const std::string kTestData = TELVORO_WEB_TESTDATA;
constexpr const char* kAgentLine = "User-Agent: Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)\r\n";
constexpr const char* kDefaultLines =
    "Accept: */*\r\n"
    "Referer: $URL\r\n"
    "Accept-Language: zh-cn\r\n"
    "Content-Type: application/x-www-form-urlencoded\r\n";

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

}  // namespace

// Failure messages show a Text's bytes.
static void PrintTo(const Text& text, std::ostream* out) { *out << ::testing::PrintToString(text.bytes()); }

namespace {

std::string AsString(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }
Bytes AsBytes(std::string_view text) { return Bytes(text.begin(), text.end()); }

// Options that give up quickly, so a failing test fails rather than hangs.
WebRequestOptions Quick() {
  WebRequestOptions options;
  options.connectTimeoutSeconds = 5;
  options.stallTimeoutSeconds = 5;
  return options;
}

// Sets an environment variable for the life of the object.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    ::setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (old_) {
      ::setenv(name_, old_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// One exchange: what the caller passes, the request bytes expected on the wire
// ($HOST: 127.0.0.1:port, $URL: the requested address) and the canned reply.
struct WireCase {
  const char* what;
  const char* headers = "";
  int method = 0;
  const char* formText = "";
  std::string formBytes = {};
  const char* cookies = nullptr;  // null: not supplied
  std::string expectedRequest;
};

const std::string kHead = "GET /x HTTP/1.1\r\nHost: $HOST\r\n";
const std::string kPostHead = "POST /x HTTP/1.1\r\nHost: $HOST\r\n";

const WireCase kWireCases[] = {
    {.what = "every option absent", .expectedRequest = kHead + kAgentLine + kDefaultLines + "\r\n"},
    {.what = "the caller's agent, found by ValueAfterColon",
     .headers = "User-Agent: X",
     .expectedRequest = kHead + "User-Agent: X\r\n" + kDefaultLines + "\r\n"},
    {.what = "the caller's agent line followed by others",
     .headers = "User-Agent: Y/1.0\r\nX-A: 1",
     .expectedRequest = kHead + "User-Agent: Y/1.0\r\nX-A: 1\r\n" + kDefaultLines + "\r\n"},
    {.what = "an agent line in another letter case: one agent line on the wire, the caller's",
     .headers = "user-agent: Z\r\nX-A: 1",
     .expectedRequest = kHead + "user-agent: Z\r\nX-A: 1\r\n" + kDefaultLines + "\r\n"},
    {.what = "User-Agent named inside another line: the agent, everything after the first colon up to "
             "the line's end, goes out as a line of its own",
     .headers = "X-Note: user-agent: Q\r\nX-B: 2",
     .expectedRequest = kHead + "User-Agent: user-agent: Q\r\nX-Note: user-agent: Q\r\nX-B: 2\r\n" + kDefaultLines +
                        "\r\n"},
    {.what = "a lower-case accept line does not count as Accept",
     .headers = "accept: text/html",
     .expectedRequest = kHead + kAgentLine + "accept: text/html\r\n" + kDefaultLines + "\r\n"},
    {.what = "the caller's own Referer, Content-Type and Accept-Language",
     .headers = "Referer: http://r/\r\nContent-Type: text/plain\r\nAccept-Language: en",
     .expectedRequest = kHead + kAgentLine +
                        "Referer: http://r/\r\nContent-Type: text/plain\r\nAccept-Language: en\r\nAccept: */*\r\n\r\n"},
    {.what = "Accept named inside another line: curl's own Accept stays out as well",
     .headers = "X-Accept: a",
     .expectedRequest = kHead + kAgentLine +
                        "X-Accept: a\r\nReferer: $URL\r\nAccept-Language: zh-cn\r\n"
                        "Content-Type: application/x-www-form-urlencoded\r\n\r\n"},
    {.what = "headers ending with CR LF leave no empty line",
     .headers = "X-A: 1\r\n",
     .expectedRequest = kHead + kAgentLine + "X-A: 1\r\n" + kDefaultLines + "\r\n"},
    {.what = "empty lines anywhere, and lone CR or LF, never end the header section",
     .headers = "\r\n\r\nX-A: 1\r\n\r\nX-B: 2\nX-C: 3\r\r\n",
     .expectedRequest = kHead + kAgentLine + "X-A: 1\r\nX-B: 2\r\nX-C: 3\r\n" + kDefaultLines + "\r\n"},
    {.what = "a header with an empty value is sent as it is",
     .headers = "X-Empty:",
     .expectedRequest = kHead + kAgentLine + "X-Empty:\r\n" + kDefaultLines + "\r\n"},
    {.what = "a supplied cookie string goes last, beside the caller's Cookie line",
     .headers = "Cookie: c=3",
     .cookies = "a=1; b=2",
     .expectedRequest = kHead + kAgentLine + "Cookie: c=3\r\n" + kDefaultLines + "Cookie: a=1; b=2\r\n\r\n"},
    {.what = "a supplied but empty cookie string sends no Cookie line",
     .cookies = "",
     .expectedRequest = kHead + kAgentLine + kDefaultLines + "\r\n"},
    {.what = "POST with a form text",
     .method = 1,
     .formText = "q=1&r=2",
     .expectedRequest = kPostHead + kAgentLine + kDefaultLines + "Content-Length: 7\r\n\r\nq=1&r=2"},
    {.what = "form bytes take precedence over the form text, zero bytes included",
     .method = 1,
     .formText = "text",
     .formBytes = std::string("b\0y", 3),
     .expectedRequest = kPostHead + kAgentLine + kDefaultLines + "Content-Length: 3\r\n\r\n" + std::string("b\0y", 3)},
    {.what = "POST without any body",
     .method = 1,
     .expectedRequest = kPostHead + kAgentLine + kDefaultLines + "Content-Length: 0\r\n\r\n"},
    {.what = "method 2: a GET that carries the form body",
     .method = 2,
     .formText = "g=1",
     .expectedRequest = kHead + kAgentLine + kDefaultLines + "Content-Length: 3\r\n\r\ng=1"},
    {.what = "the caller's Content-Type for a POST",
     .headers = "Content-Type: text/plain; charset=gbk",
     .method = 1,
     .formText = "t",
     .expectedRequest = kPostHead + kAgentLine +
                        "Content-Type: text/plain; charset=gbk\r\nAccept: */*\r\nReferer: $URL\r\n"
                        "Accept-Language: zh-cn\r\nContent-Length: 1\r\n\r\nt"},
};

TEST(WebRequestWire, HeaderBlockAndBodyByteForByte) {
  LoopbackServer server;
  ASSERT_TRUE(server.ok());
  server.Serve("/x", HttpResponse(200, "answer"));
  const std::string address = server.Origin() + "/x";
  const std::string host = "127.0.0.1:" + std::to_string(server.port());
  for (const WireCase& c : kWireCases) {
    SCOPED_TRACE(c.what);
    server.ClearRequests();
    WebRequestOptions options = Quick();
    options.headers = c.headers;
    options.method = c.method;
    options.formText = c.formText;
    options.formBytes = AsBytes(c.formBytes);
    Text cookies = c.cookies != nullptr ? c.cookies : "";
    if (c.cookies != nullptr) options.cookies = &cookies;

    EXPECT_EQ(AsString(WebRequest(address, options)), "answer");
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].raw, Replace(Replace(c.expectedRequest, "$HOST", host), "$URL", address));
  }
}

TEST(WebRequestWire, LargeFormBodyGoesWithoutExpectContinue) {
  LoopbackServer server;
  server.ServeDefault([](const RecordedRequest& r) { return CannedReply{HttpResponse(200, std::to_string(r.body.size()))}; });
  WebRequestOptions options = Quick();
  options.method = 1;
  std::string form(3 * 1024 * 1024, 'f');
  form[12345] = '\0';
  options.formBytes = AsBytes(form);
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(AsString(WebRequest(server.Origin() + "/post", options)), std::to_string(form.size()));
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(900));  // no 1 s Expect wait
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].Header("Expect"), "");
  EXPECT_EQ(requests[0].body, form);
}

TEST(WebRequestWire, AddressWithoutSchemeAndDefaultPortOfTheScheme) {
  LoopbackServer server;
  server.Serve("/p", HttpResponse(200, "ok"));
  const std::string address = "127.0.0.1:" + std::to_string(server.port()) + "/p?q=a%20b&r=http://x/";
  EXPECT_EQ(AsString(WebRequest(address, Quick())), "ok");
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].target, "/p?q=a%20b&r=http://x/");
  EXPECT_EQ(requests[0].Header("Referer"), address);  // the address as the caller gave it
}

TEST(WebRequestWire, BlanksAndGbkBytesOfTheAddressArePercentEncoded) {
  LoopbackServer server;
  server.ServeDefault([](const RecordedRequest&) { return CannedReply{HttpResponse(200, "ok")}; });
  const Text address = Text(server.Origin() + "/a b/") + Text::FromUtf8("视频") + "?q=x y";
  EXPECT_EQ(AsString(WebRequest(address, Quick())), "ok");
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].target, "/a%20b/%ca%d3%c6%b5?q=x+y");
}

// ---- https -----------------------------------------------------------------

class WebRequestTls : public ::testing::Test {
 protected:
  LoopbackServer::TlsFiles Files(const std::string& name) {
    return {kTestData + "/" + name + ".pem", kTestData + "/" + name + ".key"};
  }
};

TEST_F(WebRequestTls, TrustedCertificateCarriesTheSameHeaderBlock) {
  LoopbackServer server(0, Files("server"));
  ASSERT_TRUE(server.ok());
  server.Serve("/x", HttpResponse(200, "secure answer"));
  WebRequestOptions options = Quick();
  options.caFile = kTestData + "/ca.pem";
  const std::string address = server.Origin() + "/x";
  EXPECT_EQ(AsString(WebRequest(address, options)), "secure answer");
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_TRUE(requests[0].tls);
  const std::string host = "127.0.0.1:" + std::to_string(server.port());
  EXPECT_EQ(requests[0].raw, Replace(Replace(kHead + kAgentLine + kDefaultLines + "\r\n", "$HOST", host), "$URL", address));
}

TEST_F(WebRequestTls, UntrustedOrMisnamedCertificateGivesNothing) {
  LoopbackServer server(0, Files("server"));
  LoopbackServer misnamed(0, Files("wrong-name"));
  ASSERT_TRUE(server.ok() && misnamed.ok());
  server.Serve("/x", HttpResponse(200, "secret"));
  misnamed.Serve("/x", HttpResponse(200, "secret"));

  const struct {
    const char* what;
    LoopbackServer* server;
    std::string caFile;
  } cases[] = {
      {"signed by an authority not trusted", &server, kTestData + "/other-ca.pem"},
      {"the system's store does not know the test authority", &server, ""},
      {"trusted authority, certificate for another name", &misnamed, kTestData + "/ca.pem"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    WebRequestOptions options = Quick();
    options.caFile = c.caFile;
    Text headers = "untouched";
    options.responseHeaders = &headers;
    EXPECT_TRUE(WebRequest(c.server->Origin() + "/x", options).empty());
    EXPECT_EQ(headers, Text(""));  // the request was opened: the output is overwritten
    EXPECT_EQ(c.server->RequestCount(), 0u);
  }
}

TEST_F(WebRequestTls, HandshakeThatNeverAnswersTimesOut) {
  // A plain server that never answers the TLS greeting.
  LoopbackServer silent;
  const std::string address = "https://127.0.0.1:" + std::to_string(silent.port()) + "/x";
  WebRequestOptions options;
  options.connectTimeoutSeconds = 1;
  options.stallTimeoutSeconds = 60;
  options.caFile = kTestData + "/ca.pem";
  const auto started = std::chrono::steady_clock::now();
  EXPECT_TRUE(WebRequest(address, options).empty());
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
}

// ---- proxies ---------------------------------------------------------------

TEST(WebRequestProxy, GivenProxyReceivesTheAbsoluteAddress) {
  LoopbackServer proxy;
  proxy.ServeDefault([](const RecordedRequest&) { return CannedReply{HttpResponse(200, "via proxy")}; });
  // no_proxy must not take the request away from a proxy the caller names.
  ScopedEnv noProxy("no_proxy", "*");
  WebRequestOptions options = Quick();
  options.proxy = "127.0.0.1:" + std::to_string(proxy.port());
  EXPECT_EQ(AsString(WebRequest("http://origin.test/x?y=1", options)), "via proxy");
  const auto requests = proxy.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].raw, Replace("GET http://origin.test/x?y=1 HTTP/1.1\r\nHost: origin.test\r\n" +
                                         std::string(kAgentLine) + kDefaultLines + "\r\n",
                                     "$URL", "http://origin.test/x?y=1"));
}

TEST(WebRequestProxy, SecureAddressTunnelsThroughTheProxy) {
  LoopbackServer proxy;
  proxy.ServeDefault([](const RecordedRequest&) { return CannedReply{HttpResponse(403, "no tunnels here")}; });
  WebRequestOptions options = Quick();
  options.proxy = "127.0.0.1:" + std::to_string(proxy.port());
  EXPECT_TRUE(WebRequest("https://origin.test/x", options).empty());
  const auto requests = proxy.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].method, "CONNECT");
  EXPECT_EQ(requests[0].target, "origin.test:443");
}

TEST(WebRequestProxy, EmptyProxyConnectsDirectlyWhateverTheEnvironmentSays) {
  LoopbackServer proxy;
  proxy.ServeDefault([](const RecordedRequest&) { return CannedReply{HttpResponse(200, "via proxy")}; });
  LoopbackServer origin;
  origin.Serve("/x", HttpResponse(200, "direct"));
  const std::string proxyAddress = "http://127.0.0.1:" + std::to_string(proxy.port());
  ScopedEnv a("http_proxy", proxyAddress), b("HTTP_PROXY", proxyAddress), c("https_proxy", proxyAddress),
      d("ALL_PROXY", proxyAddress), e("all_proxy", proxyAddress), f("no_proxy", "");
  EXPECT_EQ(AsString(WebRequest(origin.Origin() + "/x", Quick())), "direct");
  EXPECT_EQ(origin.RequestCount(), 1u);
  EXPECT_EQ(proxy.RequestCount(), 0u);
}

// ---- redirects -------------------------------------------------------------

TEST(WebRequestRedirect, FollowedToTheFinalResponse) {
  LoopbackServer server;
  server.Serve("/hops/r1", HttpResponse(302, "first hop", "Location: /hops/r2\r\nSet-Cookie: hop=1; Path=/hops\r\n"));
  server.Serve("/hops/r2", HttpResponse(301, "second hop", "Location: " + server.Origin() + "/hops/final\r\n"));
  server.Serve("/hops/final", HttpResponse(200, "final body", "Set-Cookie: end=2; Path=/hops/final\r\n"));
  WebRequestOptions options = Quick();
  Text headers, received;
  options.responseHeaders = &headers;
  options.receivedCookies = &received;
  EXPECT_EQ(AsString(WebRequest(server.Origin() + "/hops/r1", options)), "final body");
  EXPECT_EQ(headers, Text("HTTP/1.1 200 OK\r\nSet-Cookie: end=2; Path=/hops/final\r\nContent-Length: 10\r\n\r\n"));
  EXPECT_EQ(received, Text("end=2"));
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[2].target, "/hops/final");
  // The caller's header block goes with every hop.
  EXPECT_EQ(requests[2].Header("Referer"), server.Origin() + "/hops/r1");
  EXPECT_EQ(requests[2].Header("Accept-Language"), "zh-cn");
}

TEST(WebRequestRedirect, RefusedReturnsTheRedirectItself) {
  LoopbackServer server;
  const std::string redirect = HttpResponse(302, "moved, see /r2", "Location: /r2\r\nSet-Cookie: hop=1; Path=/r\r\n");
  server.Serve("/r1", redirect);
  server.Serve("/r2", HttpResponse(200, "final body"));
  WebRequestOptions options = Quick();
  options.noRedirect = true;
  Text headers, received;
  options.responseHeaders = &headers;
  options.receivedCookies = &received;
  EXPECT_EQ(AsString(WebRequest(server.Origin() + "/r1", options)), "moved, see /r2");
  EXPECT_EQ(headers, Text(redirect.substr(0, redirect.find("\r\n\r\n") + 4)));
  EXPECT_EQ(received, Text("hop=1"));
  EXPECT_EQ(server.RequestCount(), 1u);
}

TEST(WebRequestRedirect, AtMostTwentyHopsAndOnlyToHttpOrHttps) {
  LoopbackServer server;
  server.Serve("/loop", HttpResponse(302, "again", "Location: /loop\r\n"));
  server.Serve("/file", HttpResponse(302, "elsewhere", "Location: file:///etc/passwd\r\n"));
  server.Serve("/ftp", HttpResponse(302, "elsewhere", "Location: ftp://127.0.0.1/x\r\n"));
  EXPECT_TRUE(WebRequest(server.Origin() + "/loop", Quick()).empty());
  EXPECT_EQ(server.RequestCount(), 21u);  // the request and twenty redirects

  for (const char* path : {"/file", "/ftp"}) {
    SCOPED_TRACE(path);
    const std::string body = AsString(WebRequest(server.Origin() + path, Quick()));
    EXPECT_EQ(body.find("root:"), std::string::npos);
    EXPECT_TRUE(body.empty() || body == "elsewhere");
  }
}

TEST(WebRequestRedirect, PostSeeOtherContinuesAsGet) {
  LoopbackServer server;
  server.Serve("/form", HttpResponse(303, "", "Location: /done\r\n"));
  server.Serve("/done", HttpResponse(200, "done"));
  WebRequestOptions options = Quick();
  options.method = 1;
  options.formText = "a=1";
  EXPECT_EQ(AsString(WebRequest(server.Origin() + "/form", options)), "done");
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].method, "POST");
  EXPECT_EQ(requests[0].body, "a=1");
  EXPECT_EQ(requests[1].method, "GET");
  EXPECT_EQ(requests[1].body, "");
}

// ---- cookies ---------------------------------------------------------------

TEST(WebRequestCookies, SetCookieLinesGatheredInAnyLetterCase) {
  LoopbackServer server;
  // Cookies without a Path attribute land in the process store under /gather.
  server.Serve("/gather/c", HttpResponse(200, "ok",
                                  "Set-Cookie: a=1; path=/c\r\n"
                                  "set-cookie: b=2\r\n"
                                  "SET-COOKIE:  c = 3 ;Secure\r\n"
                                  "X-Note: see Set-Cookie d=4\r\n"));
  server.Serve("/none", HttpResponse(200, "ok", "X-A: 1\r\n"));
  WebRequestOptions options = Quick();
  Text headers, received = "untouched";
  options.responseHeaders = &headers;
  options.receivedCookies = &received;
  WebRequest(server.Origin() + "/gather/c", options);
  EXPECT_EQ(received, Text("a=1; b=2; c = 3; X-Note: see Set-Cookie d=4"));
  EXPECT_EQ(headers, Text("HTTP/1.1 200 OK\r\n"
                          "Set-Cookie: a=1; path=/c\r\n"
                          "Set-Cookie: b=2\r\n"
                          "Set-Cookie:  c = 3 ;Secure\r\n"
                          "X-Note: see Set-Cookie d=4\r\n"
                          "Content-Length: 2\r\n\r\n"));

  WebRequest(server.Origin() + "/none", options);
  EXPECT_EQ(received, Text(""));
  EXPECT_EQ(headers, Text("HTTP/1.1 200 OK\r\nX-A: 1\r\nContent-Length: 2\r\n\r\n"));
}

TEST(WebRequestCookies, BytesInsideReceivedLinesNeverBreakLaterRequests) {
  LoopbackServer server;
  server.Serve("/odd/set", CannedReply{"HTTP/1.1 200 OK\r\n"
                                       "Set-Cookie: a=1\rX-Evil: 1\r\n"
                                       "Content-Length: 2\r\n\r\nok"});
  server.Serve("/odd/next", HttpResponse(200, "ok"));
  WebRequestOptions options = Quick();
  Text cookies, headers;
  options.cookies = &cookies;
  options.responseHeaders = &headers;
  WebRequest(server.Origin() + "/odd/set", options);
  EXPECT_EQ(headers, Text("HTTP/1.1 200 OK\r\nSet-Cookie: a=1 X-Evil: 1\r\nContent-Length: 2\r\n\r\n"));
  EXPECT_EQ(cookies, Text("a=1X-Evil:1"));
  WebRequest(server.Origin() + "/odd/next", options);
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[1].Header("X-Evil"), "");
  EXPECT_EQ(requests[1].Header("Cookie"), "a=1X-Evil:1");
}

TEST(WebRequestCookies, SuppliedCookiesAreMergedAndTheStoreIsLeftAlone) {
  LoopbackServer server;
  server.Serve("/own/set", HttpResponse(200, "ok", "Set-Cookie: a=1; Path=/own\r\nSet-Cookie: b = 2\r\nSet-Cookie: z=deleted\r\n"));
  server.Serve("/own/check", HttpResponse(200, "ok"));
  WebRequestOptions options = Quick();
  Text cookies = "a=0; z=9; k=v";
  Text received;
  options.cookies = &cookies;
  options.receivedCookies = &received;
  WebRequest(server.Origin() + "/own/set", options);
  EXPECT_EQ(cookies, Text("a=1; b=2; k=v"));
  EXPECT_EQ(received, Text("a=1;b=2;z=deleted"));
  EXPECT_EQ(server.Requests()[0].Header("Cookie"), "a=0; z=9; k=v");

  // Without cookies of its own the next request sees none of them: they did
  // not go into the process store.
  WebRequest(server.Origin() + "/own/check", Quick());
  EXPECT_EQ(server.Requests()[1].Header("Cookie"), "");
}

TEST(WebRequestCookies, ProcessStoreKeepsCookiesOfRedirectsForLaterRequests) {
  LoopbackServer server;
  server.Serve("/store/login",
               HttpResponse(302, "", "Set-Cookie: sid=abc; Path=/store\r\nLocation: /store/home\r\n"));
  server.Serve("/store/home", HttpResponse(200, "home", "Set-Cookie: seen=1; Path=/store\r\n"));
  server.Serve("/store/again", HttpResponse(200, "again"));
  EXPECT_EQ(AsString(WebRequest(server.Origin() + "/store/login", Quick())), "home");
  EXPECT_EQ(AsString(WebRequest(server.Origin() + "/store/again", Quick())), "again");

  // A caller with cookies of its own gets no stored cookie added.
  Text own = "mine=1";
  WebRequestOptions withOwn = Quick();
  withOwn.cookies = &own;
  WebRequest(server.Origin() + "/store/again", withOwn);

  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 4u);
  EXPECT_EQ(requests[0].Header("Cookie"), "");
  EXPECT_EQ(requests[1].Header("Cookie"), "sid=abc");  // set by the redirect
  const std::string both = requests[2].Header("Cookie");  // in the store's order
  EXPECT_TRUE(both == "sid=abc; seen=1" || both == "seen=1; sid=abc") << both;
  EXPECT_EQ(requests[3].Header("Cookie"), "mine=1");
}

TEST(WebRequestCookies, HeaderBlockOfAnySizeIsDeliveredWhole) {
  LoopbackServer server;
  std::string lines;
  for (int i = 0; i < 200; ++i) lines += "X-Filler-" + std::to_string(i) + ": " + std::string(90, 'f') + "\r\n";
  lines += "Set-Cookie: late=1; Path=/big\r\n";
  server.Serve("/big", HttpResponse(200, "big", lines));
  WebRequestOptions options = Quick();
  Text headers, received;
  Text cookies = "old=1";
  options.responseHeaders = &headers;
  options.receivedCookies = &received;
  options.cookies = &cookies;
  EXPECT_EQ(AsString(WebRequest(server.Origin() + "/big", options)), "big");
  EXPECT_GT(headers.Length(), 20000);
  EXPECT_EQ(headers, Text("HTTP/1.1 200 OK\r\n" + lines + "Content-Length: 3\r\n\r\n"));
  EXPECT_EQ(received, Text("late=1"));
  EXPECT_EQ(cookies, Text("late=1; old=1"));
}

// ---- bad input and failures --------------------------------------------------

TEST(WebRequestFailure, UnusableAddressSendsNothingAndTouchesNoOutput) {
  LoopbackServer server;
  server.ServeDefault([](const RecordedRequest&) { return CannedReply{HttpResponse(200, "should not be asked")}; });
  const std::string origin = server.Origin();
  const std::string addresses[] = {
      origin + "/x\r\nX-Injected: 1",
      origin + "/x\nX-Injected: 1",
      origin + "/x\rX-Injected: 1",
      origin + "/x\tz",
      origin + "/x\x01",
      "\x1f" + origin + "/x",
      "",
      "http://",
      "http:///x",
      "://x",
      "http://[/x",
      "http://a b/x",
      "http://127.0.0.1:99999/x",
  };
  for (const std::string& address : addresses) {
    SCOPED_TRACE(address);
    WebRequestOptions options = Quick();
    Text cookies = "a = 1", received = "untouched", headers = "untouched";
    options.cookies = &cookies;
    options.receivedCookies = &received;
    options.responseHeaders = &headers;
    EXPECT_TRUE(WebRequest(address, options).empty());
    EXPECT_EQ(cookies, Text("a = 1"));
    EXPECT_EQ(received, Text("untouched"));
    EXPECT_EQ(headers, Text("untouched"));
  }
  EXPECT_EQ(server.ConnectionCount(), 0u);
}

TEST(WebRequestFailure, RefusedConnectionGivesNothingButRunsTheMerge) {
  std::uint16_t port;
  {
    LoopbackServer gone;
    port = gone.port();
  }
  WebRequestOptions options = Quick();
  Text cookies = "a = 1", received = "untouched", headers = "untouched";
  options.cookies = &cookies;
  options.receivedCookies = &received;
  options.responseHeaders = &headers;
  const auto started = std::chrono::steady_clock::now();
  EXPECT_TRUE(WebRequest("http://127.0.0.1:" + std::to_string(port) + "/x", options).empty());
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));
  EXPECT_EQ(cookies, Text("a=1"));
  EXPECT_EQ(received, Text(""));
  EXPECT_EQ(headers, Text(""));
}

TEST(WebRequestFailure, StalledServerIsGivenUp) {
  LoopbackServer server;
  server.Serve("/silent", CannedReply{"", CannedReply::kStall});
  server.Serve("/half", CannedReply{"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\npartial", CannedReply::kStall});
  WebRequestOptions options;
  options.connectTimeoutSeconds = 5;
  options.stallTimeoutSeconds = 1;
  for (const char* path : {"/silent", "/half"}) {
    SCOPED_TRACE(path);
    const auto started = std::chrono::steady_clock::now();
    const std::string body = AsString(WebRequest(server.Origin() + path, options));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(8));
    EXPECT_EQ(body, std::string(path) == "/half" ? "partial" : "");  // the body read so far
  }
}

TEST(WebRequestBody, ErrorPagesZeroBytesAndUndelimitedBodiesComeBackWhole) {
  LoopbackServer server;
  const std::string withZeros("a\0b\0\0c\xff", 7);
  server.Serve("/missing", HttpResponse(404, "<html>not here</html>"));
  server.Serve("/broken", HttpResponse(500, "server error page"));
  server.Serve("/zeros", HttpResponse(200, withZeros));
  server.Serve("/close", CannedReply{"HTTP/1.1 200 OK\r\n\r\nuntil the connection closes", CannedReply::kClose});
  server.Serve("/chunked", CannedReply{"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n2\r\nde\r\n0\r\n\r\n"});
  Text headers;
  WebRequestOptions options = Quick();
  options.responseHeaders = &headers;
  EXPECT_EQ(AsString(WebRequest(server.Origin() + "/missing", options)), "<html>not here</html>");
  EXPECT_EQ(Left(headers, 22), Text("HTTP/1.1 404 Not Found"));
  EXPECT_EQ(AsString(WebRequest(server.Origin() + "/broken", Quick())), "server error page");
  EXPECT_EQ(AsString(WebRequest(server.Origin() + "/zeros", Quick())), withZeros);
  EXPECT_EQ(AsString(WebRequest(server.Origin() + "/close", Quick())), "until the connection closes");
  EXPECT_EQ(AsString(WebRequest(server.Origin() + "/chunked", Quick())), "abcde");
}

TEST(WebRequestBody, HundredMegabytesComeBackWholeAndInOrder) {
  constexpr std::size_t kSize = 100u * 1024 * 1024;
  std::string body(kSize, '\0');
  for (std::size_t i = 0; i < kSize; i += 4096) body[i] = static_cast<char>('a' + (i / 4096) % 26);
  body[kSize - 1] = 'z';
  LoopbackServer server;
  server.Serve("/big", HttpResponse(200, body));
  const Bytes got = WebRequest(server.Origin() + "/big", Quick());
  ASSERT_EQ(got.size(), kSize);
  EXPECT_TRUE(std::equal(got.begin(), got.end(), body.begin()));
}

}  // namespace
}  // namespace telvoro
