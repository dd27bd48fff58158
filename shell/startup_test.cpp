#include "shell/startup.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <telvoro/config.h>

#include "shell/fake_toolkit.h"
#include "shell/forms.h"
#include "shell/hotkeys.h"

namespace telvoro::shell {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

const std::string kNotice = config::kNoticePage;

Bytes Utf8(const std::string& s) { return Bytes(s.begin(), s.end()); }

// A notice page as the author's site lays it out.
std::string NoticePage(const std::string& title, const std::string& link, const std::string& count) {
  return "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>公告</title></head><body>\n"
         "<h2 class=\"title content-title\">" + title + "</h2>\n"
         "<div class=\"info\"><span class=\"views\">浏览" + count + "</span></div>\n"
         "<div class=\"content clearfix\"> <p>" + link + "</p> </div>\n"
         "</body></html>\n";
}

// Log lines of the parts of the sequence, as the fake writes them.
const std::string kOnline = "online? yes";
const std::string kVisit = "write MainWindow.超文本浏览框2 address=" + kNotice;
const std::string kDownload = "download " + kNotice;
const std::string kConvert = "convert UTF-8->GBK";
const std::string kOnTop = "write MainWindow alwaysOnTop=1";
const std::string kUpdateBoxYes = "messagebox 36 Kessan提示： 软件已更新，是否更新最新版本？ -> 5";
const std::string kUpdateBoxNo = "messagebox 36 Kessan提示： 软件已更新，是否更新最新版本？ -> 6";
const std::string kDestroy = "destroy MainWindow requested";
std::string Caption(const std::string& count) { return "write MainWindow caption=Telvoro 使用人数" + count; }

class StartUp : public ::testing::Test {
 protected:
  void SetUp() override { Reset(); }
  // A fresh toolkit with MainWindow loaded, before its first activation.
  void Reset() {
    fake = FakeToolkit{};
    addressBarHotkey = 0;
    titleBarHotkey = 0;
    fake.LoadWindow(MainWindowForm(), {}, false);
    fake.log.clear();
  }
  void Serve(const std::string& page) { fake.pages[kNotice] = {Utf8(page)}; }
  // Runs the sequence as the first activation does, then the loop's turn.
  void Run() {
    RunStartUp(fake);
    sequenceEnd = fake.log.size();
    fake.Run();
  }
  // What the title-is-current path does after the first read.
  static std::vector<std::string> Tail(const std::string& count) {
    return {kOnTop, kDownload, kConvert, Caption(count), "hotkey 122 -> 1", "hotkey 121 -> 2"};
  }

  FakeToolkit fake;
  std::size_t sequenceEnd = 0;
};

TEST_F(StartUp, OfflineShowsOnlyTheBoxAndEndsWithZero) {
  fake.online = false;
  Run();
  EXPECT_THAT(fake.log, ElementsAre("online? no", "messagebox 16 无网络： 未检测到网络… -> 0", "end 0"));
  EXPECT_EQ(fake.endedWith, 0);
  EXPECT_EQ(addressBarHotkey, 0);
  EXPECT_EQ(titleBarHotkey, 0);
}

TEST_F(StartUp, CurrentTitleGoesOnTopCaptionsAndRegistersF11ThenF10Last) {
  Serve(NoticePage("4118", "http://example.org/telvoro.zip", "12345"));
  Run();
  std::vector<std::string> expected{kOnline, kVisit, kDownload};
  for (const auto& line : Tail("12345")) expected.push_back(line);
  EXPECT_THAT(fake.log, ElementsAreArray(expected));
  EXPECT_EQ(fake.Str({"MainWindow", ""}, TextProperty::Caption).ToUtf8(), "Telvoro 使用人数12345");
  EXPECT_EQ(fake.Int({"MainWindow", ""}, IntProperty::AlwaysOnTop), 1);
  EXPECT_EQ(addressBarHotkey, 1);
  EXPECT_EQ(titleBarHotkey, 2);
  EXPECT_TRUE(fake.IsLoaded("MainWindow"));
  EXPECT_FALSE(fake.endedWith.has_value());
}

// Every page that yields no title: nothing to compare, so no update box.
TEST_F(StartUp, NoTitleNoUpdateBox) {
  const struct {
    const char* what;
    std::vector<Bytes> answers;  // empty: the download fails
  } cases[] = {
      {"unreachable page", {}},
      {"page without markers", {Utf8("<html><body>浏览7</span></body></html>")}},
      {"empty title", {Utf8(NoticePage("", "http://example.org/x", "7"))}},
      {"title never closed", {Utf8("<h2 class=\"title content-title\">4119 浏览7</span>")}},
      {"zero byte before the title", {Utf8(std::string("<html>\0", 7) + NoticePage("4119", "http://a/", "7"))}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Reset();
    fake.pages.clear();
    if (!c.answers.empty()) fake.pages[kNotice] = {c.answers.begin(), c.answers.end()};
    Run();
    for (const auto& line : fake.log) EXPECT_EQ(line.rfind("messagebox", 0), std::string::npos) << line;
    EXPECT_EQ(fake.log.back(), "hotkey 121 -> 2");
    EXPECT_TRUE(fake.IsLoaded("MainWindow"));
  }
}

TEST_F(StartUp, OtherTitleAnsweredNoKeepsTheWindow) {
  for (const char* title : {"4119", "4118 ", " 4118", "4.1.1.9", "新版本"}) {
    SCOPED_TRACE(title);
    Reset();
    fake.messageBoxAnswers = {kAnswerNo};
    Serve(NoticePage(title, "http://example.org/telvoro.zip", "88"));
    Run();
    std::vector<std::string> expected{kOnline, kVisit, kDownload, kUpdateBoxNo};
    for (const auto& line : Tail("88")) expected.push_back(line);
    EXPECT_THAT(fake.log, ElementsAreArray(expected));
    EXPECT_TRUE(fake.IsLoaded("MainWindow"));
  }
}

// Yes: the link is opened only when it is an absolute web address; the window
// is set up all the same and goes once the sequence has returned.
TEST_F(StartUp, OtherTitleAnsweredYesOpensOnlyWebLinksThenCloses) {
  const struct {
    std::string link;
    bool opened;
  } cases[] = {
      {"http://example.org/telvoro-4.1.1.9.zip", true},
      {"https://example.org/download?v=4119#top", true},
      {"HTTPS://EXAMPLE.ORG/", true},
      {"http://127.0.0.1:47803/telvoro.zip", true},
      {"", false},
      {"javascript:alert(1)", false},
      {"file:///etc/passwd", false},
      {"ftp://example.org/telvoro.zip", false},
      {"//example.org/telvoro.zip", false},
      {"/download/telvoro.zip", false},
      {"http://", false},
      {"https:///path", false},
      {"http:\\\\evil.example/", false},
      {"http://\\\\evil.example/", false},
      {"http://example.org/a b", false},
      {"smb://server/share", false},
      {" http://example.org/", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.link);
    Reset();
    fake.messageBoxAnswers = {kAnswerYes};
    Serve(NoticePage("4119", c.link, "1,024"));
    Run();
    std::vector<std::string> expected{kOnline, kVisit, kDownload, kUpdateBoxYes, kDownload, kConvert};
    if (c.opened) expected.push_back("open " + c.link);
    expected.push_back(kDestroy);
    for (const auto& line : Tail("1,024")) expected.push_back(line);
    expected.push_back("destroyed MainWindow");
    EXPECT_THAT(fake.log, ElementsAreArray(expected));
    // Requested inside the sequence, carried out only after it.
    EXPECT_EQ(sequenceEnd, expected.size() - 1);
    EXPECT_FALSE(fake.IsLoaded("MainWindow"));
    EXPECT_FALSE(fake.endedWith.has_value());
    EXPECT_EQ(titleBarHotkey, 2);
  }
}

// Each read reaches the server afresh: the link and the count come from the
// second and third answers, not from the first.
TEST_F(StartUp, EveryReadIsItsOwnDownload) {
  fake.messageBoxAnswers = {kAnswerYes};
  fake.pages[kNotice] = {Utf8(NoticePage("4119", "http://first/", "1")), Utf8(NoticePage("4119", "http://second/", "2")),
                         Utf8(NoticePage("4119", "http://third/", "3"))};
  Run();
  EXPECT_THAT(fake.log, ::testing::Contains("open http://second/"));
  EXPECT_EQ(fake.Str({"MainWindow", ""}, TextProperty::Caption).ToUtf8(), "Telvoro 使用人数3");
}

TEST_F(StartUp, CountAsCapturedFirstOnly) {
  const struct {
    const char* what;
    std::string page;
    std::string caption;
  } cases[] = {
      {"plain", NoticePage("4118", "", "12345"), "Telvoro 使用人数12345"},
      {"brackets and spaces kept", NoticePage("4118", "", " (1,024) "), "Telvoro 使用人数 (1,024) "},
      {"no count", "<h2 class=\"title content-title\">4118</h2><span>访问</span>", "Telvoro 使用人数"},
      {"count across a line break", "<h2 class=\"title content-title\">4118</h2><span>浏览12\n34</span>",
       "Telvoro 使用人数"},
      {"several counts: the first", NoticePage("4118", "", "1") + "<span>浏览2</span>", "Telvoro 使用人数1"},
      {"several titles: the first", NoticePage("4118", "", "5") + NoticePage("4119", "", "6"),
       "Telvoro 使用人数5"},
      {"empty count", NoticePage("4118", "", ""), "Telvoro 使用人数"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Reset();
    Serve(c.page);
    Run();
    EXPECT_EQ(fake.Str({"MainWindow", ""}, TextProperty::Caption).ToUtf8(), c.caption);
    for (const auto& line : fake.log) EXPECT_EQ(line.rfind("messagebox", 0), std::string::npos) << line;
  }
}

// A page that the strict conversion rejects leaves link and count empty; the
// lenient first read still finds the title.
TEST_F(StartUp, PageThatIsNotUtf8) {
  std::string page = NoticePage("4119", "http://example.org/x", "77");
  page += "\xff\xfe broken";
  fake.messageBoxAnswers = {kAnswerYes};
  Serve(page);
  Run();
  std::vector<std::string> expected{kOnline, kVisit, kDownload, kUpdateBoxYes, kDownload, kConvert, kDestroy};
  for (const auto& line : Tail("")) expected.push_back(line);
  expected.push_back("destroyed MainWindow");
  EXPECT_THAT(fake.log, ElementsAreArray(expected));
}

TEST_F(StartUp, RefusedKeyLeavesTheOtherWorking) {
  const Ref bar{"MainWindow", "分组框1"};
  const Ref window{"MainWindow", ""};
  {
    SCOPED_TRACE("F10 refused");
    Reset();
    Serve(NoticePage("4118", "", "1"));
    fake.hotkeyIds = {7, 0};
    Run();
    EXPECT_EQ(addressBarHotkey, 7);
    EXPECT_EQ(titleBarHotkey, 0);
    OnHotkey(fake, 7, 0);
    EXPECT_EQ(fake.Int(bar, IntProperty::Visible), 0);
    OnHotkey(fake, 0, 0);
    EXPECT_EQ(fake.Int(window, IntProperty::Border), 1);
    EXPECT_EQ(fake.Int(bar, IntProperty::Visible), 0);
    OnHotkey(fake, 7, 0);
    EXPECT_EQ(fake.Int(bar, IntProperty::Visible), 1);
  }
  {
    SCOPED_TRACE("F11 refused");
    Reset();
    Serve(NoticePage("4118", "", "1"));
    fake.hotkeyIds = {0, 9};
    Run();
    EXPECT_EQ(addressBarHotkey, 0);
    EXPECT_EQ(titleBarHotkey, 9);
    OnHotkey(fake, 0, 0);
    EXPECT_EQ(fake.Int(bar, IntProperty::Visible), 1);
    OnHotkey(fake, 9, 0);
    EXPECT_EQ(fake.Int(window, IntProperty::Border), 0);
    EXPECT_EQ(fake.Int(bar, IntProperty::Visible), 1);
  }
}

// The sample notice page that the project ships carries every marker.
TEST_F(StartUp, TheShippedNoticePage) {
  std::ifstream file(std::string(config::kSourceDir) + "/shell/notice/notice.html", std::ios::binary);
  ASSERT_TRUE(file);
  const std::string page((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  Serve(page);
  Run();
  std::vector<std::string> expected{kOnline, kVisit, kDownload};
  for (const auto& line : Tail("1024")) expected.push_back(line);
  EXPECT_THAT(fake.log, ElementsAreArray(expected));

  // With a newer title, its download link is the one that opens.
  Reset();
  fake.messageBoxAnswers = {kAnswerYes};
  const std::string marker = "content-title\">4118<";
  std::string newer = page;
  newer.replace(newer.find(marker), marker.size(), "content-title\">4119<");
  Serve(newer);
  Run();
  EXPECT_THAT(fake.log, ::testing::Contains("open https://telvoro.github.io/download/telvoro-4.1.1.8.tar.gz"));
}

TEST(Utf8ToText, ConvertsToGbkWithSubstitutesAndEndsAtZero) {
  EXPECT_EQ(Utf8ToText({}), Text());
  EXPECT_EQ(Utf8ToText(Utf8("title content-title\">4118</h2>")), Text("title content-title\">4118</h2>"));
  EXPECT_EQ(Utf8ToText(Utf8("浏览")).bytes(), "\xe4\xaf\xc0\xc0");
  EXPECT_EQ(Utf8ToText(Utf8("Telvoro 使用人数")), Text::FromUtf8("Telvoro 使用人数"));
  EXPECT_EQ(Utf8ToText(Utf8(std::string("ab\0cd", 5))), Text("ab"));
  // Bad input never empties the page: the text around it stays.
  const Text broken = Utf8ToText(Utf8("<h2>\xff\xfe</h2>"));
  EXPECT_EQ(Left(broken, 4), Text("<h2>"));
  EXPECT_EQ(Right(broken, 5), Text("</h2>"));
  const Text emoji = Utf8ToText(Utf8("a😀b"));
  EXPECT_EQ(Left(emoji, 1), Text("a"));
  EXPECT_EQ(Right(emoji, 1), Text("b"));
  EXPECT_GT(emoji.Length(), 2);
}

}  // namespace
}  // namespace telvoro::shell
