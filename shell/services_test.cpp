#include "shell/services.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "web/testing/loopback_server.h"

namespace telvoro::shell {
namespace {

using testing::CannedReply;
using testing::HttpResponse;
using testing::LoopbackServer;
using testing::RecordedRequest;
using Clock = std::chrono::steady_clock;

Bytes B(const std::string& s) { return Bytes(s.begin(), s.end()); }
std::string S(const Bytes& b) { return std::string(b.begin(), b.end()); }

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

class Download : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server.ok()); }
  Text At(const std::string& path) const { return Text(server.Origin() + path); }

  LoopbackServer server;
};

TEST_F(Download, WholeBodyZeroBytesIncludedFreshFromTheServerEachTime) {
  const std::string body = std::string("<h2>4118</h2>\0\xe6\xb5\x8f\xe8\xa7\x88", 20) + std::string(100000, 'x');
  server.Serve("/notice.html", HttpResponse(200, body, "Content-Type: text/html; charset=utf-8\r\n"));
  EXPECT_EQ(S(DownloadWholePage(At("/notice.html"))), body);
  EXPECT_EQ(S(DownloadWholePage(At("/notice.html"))), body);
  ASSERT_EQ(server.RequestCount(), 2u);
  for (const RecordedRequest& request : server.Requests()) {
    EXPECT_EQ(request.method, "GET");
    EXPECT_EQ(request.Header("Cache-Control"), "no-cache");
  }
}

TEST_F(Download, EmptyOnErrorStatus) {
  for (int status : {400, 403, 404, 410, 500, 503}) {
    server.Serve("/e", HttpResponse(status, "<h2 class=\"title content-title\">4119</h2>"));
    EXPECT_TRUE(DownloadWholePage(At("/e")).empty()) << status;
  }
  // A success with nothing in it is nothing too.
  server.Serve("/none", HttpResponse(204, ""));
  EXPECT_TRUE(DownloadWholePage(At("/none")).empty());
}

TEST_F(Download, FollowsUpToTwentyRedirectsOverHttpOnly) {
  for (int i = 0; i < 21; ++i)
    server.Serve("/r" + std::to_string(i),
                 HttpResponse(302, "", "Location: /r" + std::to_string(i + 1) + "\r\n"));
  server.Serve("/r21", HttpResponse(200, "arrived"));
  EXPECT_EQ(S(DownloadWholePage(At("/r1"))), "arrived");  // 20 redirects
  EXPECT_TRUE(DownloadWholePage(At("/r0")).empty());       // 21

  server.Serve("/to-file", HttpResponse(302, "", "Location: file:///etc/hostname\r\n"));
  server.Serve("/to-ftp", HttpResponse(301, "", "Location: ftp://127.0.0.1/x\r\n"));
  server.Serve("/loop", HttpResponse(307, "", "Location: /loop\r\n"));
  for (const char* path : {"/to-file", "/to-ftp", "/loop"}) EXPECT_TRUE(DownloadWholePage(At(path)).empty()) << path;
}

TEST_F(Download, OnlyHttpAndHttpsAddresses) {
  for (const char* address : {"", "file:///etc/hostname", "/etc/hostname", "ftp://127.0.0.1/", "dict://127.0.0.1/x",
                              "gopher://127.0.0.1/", "javascript:alert(1)", "127.0.0.1:1/"})
    EXPECT_TRUE(DownloadWholePage(Text(address)).empty()) << address;
}

TEST_F(Download, LargerThanTheBoundGivesNothing) {
  DownloadLimits limits;
  limits.maxBytes = 1000;
  const std::string exact(1000, 'a'), over(1001, 'a');
  server.Serve("/exact", HttpResponse(200, exact));
  server.Serve("/over", HttpResponse(200, over));
  // No length announced: the bound holds while the body streams in.
  server.Serve("/over-unannounced", CannedReply{"HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + over, CannedReply::kClose});
  server.Serve("/exact-unannounced",
               CannedReply{"HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + exact, CannedReply::kClose});
  EXPECT_EQ(S(DownloadWholePage(At("/exact"), limits)), exact);
  EXPECT_EQ(S(DownloadWholePage(At("/exact-unannounced"), limits)), exact);
  EXPECT_TRUE(DownloadWholePage(At("/over"), limits).empty());
  EXPECT_TRUE(DownloadWholePage(At("/over-unannounced"), limits).empty());

  // The shipped bound: 4 MiB.
  const std::string big(4u << 20, 'b');
  server.Serve("/4m", HttpResponse(200, big));
  server.Serve("/4m+1", HttpResponse(200, big + "b"));
  EXPECT_EQ(DownloadWholePage(At("/4m")).size(), big.size());
  EXPECT_TRUE(DownloadWholePage(At("/4m+1")).empty());
}

TEST_F(Download, GivesUpWhenNothingArrives) {
  DownloadLimits limits;
  limits.stallTimeoutMs = 700;
  // Answers nothing at all; answers half and stops.
  server.Serve("/silent", [](const RecordedRequest&) { return CannedReply{"", CannedReply::kStall}; });
  server.Serve("/half", [](const RecordedRequest&) {
    return CannedReply{"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n" + std::string(50, 'h'), CannedReply::kStall};
  });
  for (const char* path : {"/silent", "/half"}) {
    const auto start = Clock::now();
    EXPECT_TRUE(DownloadWholePage(At(path), limits).empty()) << path;
    const double took = SecondsSince(start);
    EXPECT_GE(took, 0.6) << path;
    EXPECT_LT(took, 3.0) << path;
  }
}

TEST_F(Download, WaitsForASlowAnswerWithinTheLimits) {
  DownloadLimits limits;
  limits.stallTimeoutMs = 1500;
  server.Serve("/slow", [](const RecordedRequest&) {
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    return CannedReply{HttpResponse(200, "late but whole")};
  });
  EXPECT_EQ(S(DownloadWholePage(At("/slow"), limits)), "late but whole");

  // The overall limit holds even while the server keeps the line alive.
  limits.totalTimeoutMs = 300;
  const auto start = Clock::now();
  EXPECT_TRUE(DownloadWholePage(At("/slow"), limits).empty());
  EXPECT_LT(SecondsSince(start), 2.0);
}

TEST(DownloadNoServer, RefusedConnectionGivesNothingAtOnce) {
  std::string origin;
  {
    LoopbackServer gone;
    origin = gone.Origin();
  }
  const auto start = Clock::now();
  EXPECT_TRUE(DownloadWholePage(Text(origin + "/notice.html")).empty());
  EXPECT_LT(SecondsSince(start), 5.0);
}

TEST(ConvertEncodingStrict, WholeInputOrNothing) {
  const struct {
    const char* what;
    std::string input;
    const char* from;
    const char* to;
    std::string output;  // empty: nothing
  } cases[] = {
      {"ASCII", "Telvoro 4118", "UTF-8", "GBK", "Telvoro 4118"},
      {"Chinese", "浏览(.*?)</span>", "UTF-8", "GBK", "\xe4\xaf\xc0\xc0(.*?)</span>"},
      {"euro sign of code page 936", "\xe2\x82\xac", "UTF-8", "GBK", "\x80"},
      {"zero bytes stay", std::string("a\0b", 3), "UTF-8", "GBK", std::string("a\0b", 3)},
      {"names in any case", "使用人数", "utf-8", "gbk", "\xca\xb9\xd3\xc3\xc8\xcb\xca\xfd"},
      {"back to UTF-8", "\xe4\xaf\xc0\xc0", "GBK", "UTF-8", "浏览"},
      {"invalid UTF-8", "ok \xff ok", "UTF-8", "GBK", ""},
      {"overlong UTF-8", "\xc0\xaf", "UTF-8", "GBK", ""},
      {"UTF-8 cut short at the end", "浏\xe8\xa7", "UTF-8", "GBK", ""},
      {"missing in GBK", "a😀b", "UTF-8", "GBK", ""},
      {"GBK lead byte without trail", "\xe4", "GBK", "UTF-8", ""},
      {"unknown encoding", "abc", "UTF-8", "NO-SUCH-CODE", ""},
      {"empty input", "", "UTF-8", "GBK", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(S(ConvertEncodingStrict(B(c.input), Text(c.from), Text(c.to))), c.output) << c.what;
  }
  // Large inputs grow the output as needed.
  std::string many;
  for (int i = 0; i < 50000; ++i) many += "浏览";
  EXPECT_EQ(ConvertEncodingStrict(B(many), "UTF-8", "GBK").size(), 200000u);
}

// The online check in a network namespace of its own: loopback alone is not
// the internet; a default route is. Needs the right to make namespaces.
int OnlineInFreshNamespace(const char* setup) {
  const pid_t child = fork();
  if (child == 0) {
    if (unshare(CLONE_NEWNET) != 0) _exit(77);
    if (std::system(setup) != 0) _exit(78);
    _exit(CheckOnline() ? 1 : 0);
  }
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

TEST(CheckOnline, NeedsARouteOut) {
  const int loopbackOnly = OnlineInFreshNamespace("ip link set lo up");
  if (loopbackOnly == 77 || loopbackOnly == 78) GTEST_SKIP() << "no network namespaces here";
  EXPECT_EQ(loopbackOnly, 0);
  // A link whose far end stays inside the namespace: nothing leaves it.
  const std::string link =
      "ip link set lo up && { ip link add d0 type dummy 2>/dev/null || ip link add d0 type veth peer name d1; } && "
      "{ ! ip link show d1 >/dev/null 2>&1 || ip link set d1 up; } && "
      "ip addr add 192.0.2.2/24 dev d0 && ip link set d0 up";
  EXPECT_EQ(OnlineInFreshNamespace((link + " && ip route add default via 192.0.2.1").c_str()), 1);
  // A network without a way out.
  EXPECT_EQ(OnlineInFreshNamespace(link.c_str()), 0);
}

}  // namespace
}  // namespace telvoro::shell
