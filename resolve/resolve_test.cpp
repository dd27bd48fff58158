#include "resolve/resolve.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <telvoro/config.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "resolve/regex_object_internal.h"
#include "text/encoding.h"
#include "text/text.h"
#include "web/testing/loopback_server.h"

namespace telvoro {
namespace {

using testing::HttpResponse;
using testing::LoopbackServer;

Text U(const char* utf8) { return Text::FromUtf8(utf8); }

std::string Fixture(const std::string& name) {
  std::ifstream in(std::string(config::kSourceDir) + "/resolve/testdata/" + name, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  EXPECT_FALSE(bytes.str().empty()) << name;
  return bytes.str();
}

// A refused connection: nothing listens on port 1 of the loopback.
constexpr const char* kUnreachable = "http://127.0.0.1:1/video.html";

TEST(DecodePage, AsciiPassesThrough) {
  std::string ascii;
  for (int c = 1; c < 0x80; ++c) ascii += static_cast<char>(c);
  EXPECT_EQ(DecodePage(Text(ascii)), Text(ascii));
  EXPECT_EQ(DecodePage(Text()), Text());
}

TEST(DecodePage, ChineseBecomesGbk) {
  const std::string utf8 = "<title>风景纪录片 第一集—视频</title>\r\n中文，标点。";
  const Text page = DecodePage(Text(utf8));
  EXPECT_EQ(page, U(utf8.c_str()));
  EXPECT_EQ(page.bytes().substr(0, 7), "<title>");
  EXPECT_EQ(page.bytes().substr(7, 2), "\xB7\xE7");  // 风 in GBK
  EXPECT_EQ(page.ToUtf8(), utf8);
}

TEST(DecodePage, MalformedAndForeignCharactersGetSubstitutes) {
  struct Case {
    const char* name;
    std::string utf8;
    std::string head, tail;  // ASCII around the trouble, which must survive
  };
  const std::vector<Case> cases = {
      {"lone continuation byte", "ab\x80" "cd", "ab", "cd"},
      {"lead byte without its continuation", "ab\xE4(cd", "ab", "(cd"},
      {"overlong form of a slash", "ab\xC0\xAF" "cd", "ab", "cd"},
      {"surrogate", "ab\xED\xA0\x80" "cd", "ab", "cd"},
      {"truncated at the end", "ab\xE4\xBD", "ab", ""},
      {"no GBK form", "ab\xF0\x9F\x98\x80" "cd", "ab", "cd"},  // an emoji
      {"bytes that are never UTF-8", "ab\xFF\xFE" "cd", "ab", "cd"},
  };
  for (const auto& c : cases) {
    const std::string gbk = DecodePage(Text(c.utf8)).bytes();
    ASSERT_GT(gbk.size(), c.head.size() + c.tail.size()) << c.name;
    EXPECT_EQ(gbk.substr(0, c.head.size()), c.head) << c.name;
    EXPECT_EQ(gbk.substr(gbk.size() - c.tail.size()), c.tail) << c.name;
    // Whatever stands in for the trouble is GBK and converts back to UTF-8.
    EXPECT_FALSE(Text(gbk).ToUtf8().empty()) << c.name;
  }
}

// The resolver searches the page in its UTF-8 form without the round trip
// through a GBK Text when it can; what it searches must be that round trip.
TEST(PreparePage, IsThePageAfterDecodePageInTheEnginesForm) {
  std::string chinese;  // 96 KB and more of text without any ASCII byte
  while (chinese.size() < 100 * 1024) chinese += "风景纪录片第一集山川与河流";
  std::string lines;
  while (lines.size() < 200 * 1024) lines += "<p>风景纪录片 第一集：山川与河流，播放次数 12345 次。</p>\n";
  const std::string emoji = "\xF0\x9F\x98\x80";
  struct Case {
    const char* name;
    std::string page;
    bool same;  // the page needs no change
  };
  const std::vector<Case> cases = {
      {"empty", "", true},
      {"ASCII", "<html>value=\"http://x\"</html>", true},
      {"Chinese lines", lines, true},
      {"a long stretch without ASCII", "a" + chinese + "b" + chinese, true},
      {"other scripts that GBK holds", lines + "€·αβγДЖあアＡＢ，。、" + lines, true},
      {"emoji far into the page", lines + emoji + lines, false},
      {"a BMP character without a GBK form", lines + "한" + lines, false},
      {"the replacement character itself", lines + "\xEF\xBF\xBD" + lines, false},
      {"overlong form and surrogate", lines + "\xC0\xAF" + lines + "\xED\xA0\x80" + lines, false},
      {"emoji at the start", emoji + lines, false},
      {"truncated sequence at the end", lines + "\xE4\xBD", false},
      {"malformed bytes at every piece border",
       [&] {
         std::string page = lines;
         for (std::size_t at = 65536 - 2; at < page.size(); at += 65536) page.replace(at, 4, "\xE4\xBDx\xC0");
         return page;
       }(),
       false},
      {"malformed inside a long stretch without ASCII", chinese + "\xE4\xBD" + chinese + "\xFF", false},
  };
  for (const auto& c : cases) {
    auto body = std::make_shared<const Bytes>(c.page.begin(), c.page.end());
    const std::string_view page(reinterpret_cast<const char*>(body->data()), body->size());
    const PreparedSubject prepared = PreparePage(body, page);
    const std::string expected = GbkToUtf8(DecodePage(Text(c.page)).bytes());
    EXPECT_EQ(std::string(prepared.utf8), expected) << c.name;
    EXPECT_EQ(prepared.utf8.data() == page.data(), c.same) << c.name;
  }
}

class ResolvePlayerAddressTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server_.ok()); }

  Text Serve(const std::string& path, std::string response) {
    server_.Serve(path, std::move(response));
    return Text(server_.Origin() + path);
  }
  Text ServeFixture(const std::string& name) { return Serve("/" + name, HttpResponse(200, Fixture(name))); }

  static Text Tudou(const char* icode) {
    return Text(std::string("http://") + config::kTudouWebHost + "/v/" + icode + "/v.swf");
  }

  LoopbackServer server_;
};

TEST_F(ResolvePlayerAddressTest, EachSiteAndTheOrderOfTheRows) {
  struct Case {
    const char* fixture;
    Text expected;
  };
  const std::vector<Case> cases = {
      {"youku.html", "http://player.youku.com/player.php/sid/XNzA4MTk5/v.swf"},
      // The first icode is closed by "'," and does not count.
      {"tudou.html", Tudou("Kpm0GTk1jdA")},
      // Returned as captured, Chinese and "&amp;" included.
      {"letv.html", U("http://i7.imgs.letv.com/播放器/swfPlayer.swf?id=2151378&amp;v=1")},
      // Row 1 wins over rows 2 and 3 that stand earlier in the page.
      {"both.html", "http://player.youku.com/player.php/sid/XBOTH/v.swf"},
      // The marker in capitals matches; the address keeps the page's letter
      // case around the capture and the table's own around it.
      {"capitals.html", "http://Player.Youku.com/Player.php/sid/XCAPS/V.swf"},
      // Markers broken over two lines do not match.
      {"split.html", ""},
      // An empty first row-1 capture goes on to the next rows; the later
      // row-1 match is not looked at.
      {"empty_first_tudou.html", Tudou("tudouAfterEmpty")},
      {"empty_first_letv.html", "http://letv.example/p.swf?id=9"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ResolvePlayerAddress(ServeFixture(c.fixture)), c.expected) << c.fixture;
  }
  // One plain GET per page, with the request defaults.
  const auto requests = server_.Requests();
  ASSERT_EQ(requests.size(), cases.size());
  EXPECT_EQ(requests[0].method, "GET");
  EXPECT_EQ(requests[0].target, "/youku.html");
  EXPECT_EQ(requests[0].Header("Referer"), server_.Origin() + "/youku.html");
}

TEST_F(ResolvePlayerAddressTest, ZeroByteEndsThePage) {
  const std::string marker = "<param value=\"http://player.youku.com/sid/X/v.swf\" >\n";
  const std::string before = "<p>视频</p>\n" + marker + std::string(1, '\0') + "<p>后面</p>\n";
  const std::string after = std::string("<p>视频</p>\n") + '\0' + marker;
  EXPECT_EQ(ResolvePlayerAddress(Serve("/before.html", HttpResponse(200, before))),
            Text("http://player.youku.com/sid/X/v.swf"));
  EXPECT_EQ(ResolvePlayerAddress(Serve("/after.html", HttpResponse(200, after))), Text());
}

TEST_F(ResolvePlayerAddressTest, FailuresGiveTheEmptyText) {
  EXPECT_EQ(ResolvePlayerAddress(Serve("/missing.html", HttpResponse(404, "<html><h1>404 页面不存在</h1></html>"))),
            Text());
  EXPECT_EQ(ResolvePlayerAddress(Serve("/nothing.html", HttpResponse(200, ""))), Text());
  EXPECT_EQ(ResolvePlayerAddress(Text(kUnreachable)), Text());
  EXPECT_EQ(ResolvePlayerAddress(Text()), Text());
}

TEST_F(ResolvePlayerAddressTest, MalformedUtf8DoesNotHideAMarker) {
  const std::string player = ResolvePlayerAddress(Serve("/malformed.html", HttpResponse(200, "\xFF\xE4<p value=\"http://p.example/\xC0/v.swf\" >\xED\xA0\x80"))).bytes();
  // Whatever stands in for the stray byte, the ASCII around it is kept.
  ASSERT_GT(player.size(), std::string("http://p.example//v.swf").size());
  EXPECT_EQ(player.substr(0, 17), "http://p.example/");
  EXPECT_EQ(player.substr(player.size() - 6), "/v.swf");
}

// Runs telvoro-resolve with the arguments; its exit code, standard output
// and standard error.
struct CommandRun {
  int code = -1;
  std::string out, err;
};

std::string Drain(int fd) {
  std::string all;
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) {
      all.append(buffer, static_cast<std::size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      break;
    }
  }
  close(fd);
  return all;
}

CommandRun RunCommand(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), TELVORO_RESOLVE_COMMAND);
  int out[2], err[2];
  if (pipe(out) != 0 || pipe(err) != 0) return {};
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], 1);
    dup2(err[1], 2);
    close(out[0]);
    close(err[0]);
    std::vector<char*> argv;
    for (auto& a : arguments) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  CommandRun run;
  // The outputs are small; read one after the other.
  run.out = Drain(out[0]);
  run.err = Drain(err[0]);
  int status = 0;
  if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status)) run.code = WEXITSTATUS(status);
  return run;
}

TEST_F(ResolvePlayerAddressTest, CommandExitCodes) {
  const Text letv = ServeFixture("letv.html");
  CommandRun run = RunCommand({letv.bytes()});
  EXPECT_EQ(run.code, 0);
  EXPECT_EQ(run.out, "http://i7.imgs.letv.com/播放器/swfPlayer.swf?id=2151378&amp;v=1\n");  // UTF-8
  EXPECT_EQ(run.err, "");

  run = RunCommand({ServeFixture("split.html").bytes()});
  EXPECT_EQ(run.code, 1);
  EXPECT_EQ(run.out, "");
  run = RunCommand({kUnreachable});
  EXPECT_EQ(run.code, 1);
  EXPECT_EQ(run.out, "");

  for (const auto& arguments : std::vector<std::vector<std::string>>{{}, {letv.bytes(), "extra"}}) {
    run = RunCommand(arguments);
    EXPECT_EQ(run.code, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("usage: telvoro-resolve ADDRESS"), std::string::npos);
  }
}

}  // namespace
}  // namespace telvoro
