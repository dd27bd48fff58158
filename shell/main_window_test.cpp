#include "shell/main_window.h"
#include "shell/web_address.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include <telvoro/config.h>

#include "shell/fake_toolkit.h"
#include "shell/forms.h"
#include "shell/tutorial_window.h"

namespace telvoro::shell {
namespace {

const Ref kWindow{"MainWindow", ""};
const Ref kBox{"MainWindow", "编辑框1"};
const Ref kPlayer{"MainWindow", "超文本浏览框1"};
const Ref kBar{"MainWindow", "分组框1"};
const Ref kButton{"MainWindow", "超级按钮1"};

const char* kFoundAddress = "http://127.0.0.1:47801/player.php/sid/XNDU2/v.swf";

// MainWindow loaded on the fake, with a resolver that answers what the test says
// and remembers what it was asked.
class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    LoadMainWindow(fake, [this](const Text& page) {
      asked.push_back(page);
      return answer;
    });
    fake.FlushDestruction();
  }

  void Click() { fake.handlers["MainWindow"].clicked.at("超级按钮1")(); }
  void Key(int code, int modifiers = 0) { fake.handlers["MainWindow"].keyPressed.at("编辑框1")(code, modifiers); }
  void TypeAddress(const Text& text) { fake.WriteText(kBox, TextProperty::Text, text); }
  // What the user does while the tutorial window is open.
  void WhileTutorial(std::function<void(WindowHandlers&)> user) {
    fake.whileModal["TutorialWindow"] = [this, user] { user(fake.handlers["TutorialWindow"]); };
  }
  std::vector<std::string> LogSince(std::size_t from) const {
    return std::vector<std::string>(fake.log.begin() + static_cast<long>(from), fake.log.end());
  }

  FakeToolkit fake;
  Text answer;
  std::vector<Text> asked;
};

TEST_F(MainWindowTest, LoadsWithTheTutorialPlayerAndTheFormLayout) {
  EXPECT_EQ(fake.log.front(), "load MainWindow");
  EXPECT_EQ(fake.Str(kPlayer, TextProperty::Address).bytes(),
            std::string("http://") + config::kYoukuPlayerHost + "/player.php/sid/" + config::kTutorialVideoId + "/v.swf");
  // The form's own values come out of the layout at its 680-pixel client width.
  EXPECT_EQ(fake.Int(kButton, IntProperty::Left), 595);
  EXPECT_EQ(fake.Int(kBox, IntProperty::Width), 520);
  EXPECT_EQ(fake.Int(kBar, IntProperty::Width), 680);
  EXPECT_EQ(fake.Int(kPlayer, IntProperty::Width), 680);
  EXPECT_EQ(fake.Int(kPlayer, IntProperty::Height), 460);
  EXPECT_TRUE(asked.empty());
}

TEST_F(MainWindowTest, LayoutFollowsTheClientArea) {
  struct Case {
    int width, height;
    int buttonLeft, boxWidth, barWidth;
  };
  const Case cases[] = {
      {680, 460, 595, 520, 680},
      {1000, 700, 915, 840, 1000},
      {100, 40, 15, 0, 100},  // narrower than 160: no room for the box
      {50, 30, -35, 0, 50},   // narrower than 85: the button hangs off the left edge
  };
  for (const Case& c : cases) {
    fake.log.clear();
    fake.Resize("MainWindow", c.width, c.height);
    SCOPED_TRACE(c.width);
    EXPECT_EQ(fake.Int(kPlayer, IntProperty::Width), c.width);
    EXPECT_EQ(fake.Int(kPlayer, IntProperty::Height), c.height);
    EXPECT_EQ(fake.Int(kButton, IntProperty::Left), c.buttonLeft);
    EXPECT_EQ(fake.Int(kBox, IntProperty::Width), c.boxWidth);
    EXPECT_EQ(fake.Int(kBar, IntProperty::Width), c.barWidth);
    // Exactly these five writes, in this order; nothing else moves.
    const std::string w = std::to_string(c.width);
    EXPECT_EQ(fake.log, (std::vector<std::string>{
                            "write MainWindow.超文本浏览框1 width=" + w,
                            "write MainWindow.超文本浏览框1 height=" + std::to_string(c.height),
                            "write MainWindow.超级按钮1 left=" + std::to_string(c.buttonLeft),
                            "write MainWindow.编辑框1 width=" + std::to_string(c.boxWidth),
                            "write MainWindow.分组框1 width=" + w,
                        }));
  }
  EXPECT_EQ(fake.Int(kBox, IntProperty::Left), 70);
  EXPECT_EQ(fake.Int(kBar, IntProperty::Top), -5);
  EXPECT_EQ(fake.Int(kButton, IntProperty::Top), 12);
}

TEST_F(MainWindowTest, FoundAddressGoesToThePlayerAndNothingElseChanges) {
  const Text page = Text::FromUtf8("  http://v.youku.com/v_show/id_XNDU2.html 视频 ");
  TypeAddress(page);
  answer = kFoundAddress;
  const std::size_t from = fake.log.size();
  Click();
  EXPECT_EQ(asked, std::vector<Text>{page});  // the box's text, untouched
  EXPECT_EQ(LogSince(from), std::vector<std::string>{std::string("write MainWindow.超文本浏览框1 address=") +
                                                     kFoundAddress});
  EXPECT_EQ(fake.Str(kBox, TextProperty::Text), page);
  EXPECT_EQ(fake.ReadInt(kWindow, IntProperty::Visible), 1);
  EXPECT_EQ(fake.ReadInt(kBar, IntProperty::Visible), 1);

  // Once more: the page is fetched again and the player reloads.
  Click();
  EXPECT_EQ(asked.size(), 2u);
  EXPECT_EQ(fake.log.back(), std::string("write MainWindow.超文本浏览框1 address=") + kFoundAddress);
}

TEST_F(MainWindowTest, EnterDoesWhatTheButtonDoes) {
  for (const char* found : {kFoundAddress, ""}) {
    SCOPED_TRACE(found);
    answer = found;
    WhileTutorial([](WindowHandlers& t) { t.clicked.at("按钮2")(); });
    TypeAddress("http://www.tudou.com/programs/view/abc/");

    std::size_t from = fake.log.size();
    Click();
    const std::vector<std::string> byButton = LogSince(from);

    from = fake.log.size();
    Key(13);
    EXPECT_EQ(LogSince(from), byButton);
    // Enter with a modifier held is still Enter.
    from = fake.log.size();
    Key(13, 2);
    EXPECT_EQ(LogSince(from), byButton);
  }
  EXPECT_EQ(asked.size(), 6u);

  // Every other key only edits the text.
  const std::size_t from = fake.log.size();
  for (int code : {10, 12, 14, 32, 65, 86, 121, 122}) Key(code, 1);
  EXPECT_EQ(LogSince(from), std::vector<std::string>{});
  EXPECT_EQ(asked.size(), 6u);
}

TEST_F(MainWindowTest, NoAddressBringsUpTheTutorialAndEachWayOutBringsTheWindowBack) {
  const std::string tutorial = TutorialPlayerAddress().ToUtf8();
  struct Way {
    const char* name;
    std::function<void(WindowHandlers&)> user;
    std::vector<std::string> whileOpen;  // effects of the user's action
    bool closeButton;
  };
  const Way ways[] = {
      {"按钮1 观看视频教程", [](WindowHandlers& t) { t.clicked.at("按钮1")(); },
       {"write MainWindow.超文本浏览框1 address=" + tutorial, "write MainWindow.分组框1 visible=0",
        "destroy TutorialWindow requested"},
       false},
      {"按钮2 我知道了", [](WindowHandlers& t) { t.clicked.at("按钮2")(); }, {"destroy TutorialWindow requested"},
       false},
      {"close button", [](WindowHandlers&) {}, {}, true},
  };
  for (const Way& way : ways) {
    SCOPED_TRACE(way.name);
    // Back to a played video with the bar shown, so that every change shows.
    fake.WriteText(kPlayer, TextProperty::Address, kFoundAddress);
    fake.WriteInt(kBar, IntProperty::Visible, 1);
    const Text typed = "http://example.com/not-a-video";
    TypeAddress(typed);
    answer = "";

    bool hiddenWhileOpen = false;
    WhileTutorial([&](WindowHandlers& t) {
      hiddenWhileOpen = fake.ReadInt(kWindow, IntProperty::Visible) == 0;
      way.user(t);
    });
    const std::size_t from = fake.log.size();
    Click();

    std::vector<std::string> expected = {"write MainWindow visible=0", "load TutorialWindow modal"};
    expected.insert(expected.end(), way.whileOpen.begin(), way.whileOpen.end());
    if (way.closeButton) {
      expected.push_back("close button TutorialWindow");
      expected.push_back("destroy TutorialWindow requested");
    }
    expected.push_back("write MainWindow visible=1");  // will be destroyed
    expected.push_back("destroyed TutorialWindow");
    expected.push_back("modal load returned TutorialWindow");
    EXPECT_EQ(LogSince(from), expected);

    EXPECT_TRUE(hiddenWhileOpen);
    EXPECT_FALSE(fake.IsLoaded("TutorialWindow"));
    EXPECT_EQ(fake.ReadInt(kWindow, IntProperty::Visible), 1);
    EXPECT_EQ(fake.Str(kBox, TextProperty::Text), typed);
    const bool tutorialVideo = way.whileOpen.size() > 1;
    EXPECT_EQ(fake.Str(kPlayer, TextProperty::Address).ToUtf8(), tutorialVideo ? tutorial : kFoundAddress);
    EXPECT_EQ(fake.ReadInt(kBar, IntProperty::Visible), tutorialVideo ? 0 : 1);
  }
}

TEST_F(MainWindowTest, ContactButtonOpensTheLinkAndTheTutorialStaysOpen) {
  answer = "";
  int stillOpen = 0;
  WhileTutorial([&](WindowHandlers& t) {
    for (int i = 0; i < 3; ++i) {
      t.clicked.at("按钮3")();
      fake.FlushDestruction();
      stillOpen += fake.IsLoaded("TutorialWindow") ? 1 : 0;
    }
  });
  const std::size_t from = fake.log.size();
  Click();
  const std::string open = std::string("open tencent://message/?uin=") + config::kContactNumber + "&Menu=yes";
  EXPECT_EQ(LogSince(from), (std::vector<std::string>{
                                "write MainWindow visible=0", "load TutorialWindow modal", open, open, open,
                                "close button TutorialWindow", "destroy TutorialWindow requested",
                                "write MainWindow visible=1", "destroyed TutorialWindow",
                                "modal load returned TutorialWindow"}));
  EXPECT_EQ(stillOpen, 3);
}

TEST_F(MainWindowTest, EveryFailedPlayBringsTheTutorialAgain) {
  // An empty box, a page that cannot be fetched, any text: no address, the
  // tutorial window every time, and the window usable after each.
  const Text inputs[] = {"", "http://127.0.0.1:1/", Text::FromUtf8("随便什么"), "\x01\x7f", "javascript:alert(1)"};
  int tutorials = 0;
  WhileTutorial([&](WindowHandlers& t) {
    ++tutorials;
    t.clicked.at("按钮2")();
  });
  answer = "";
  for (const Text& input : inputs) {
    TypeAddress(input);
    Key(13);
    EXPECT_EQ(fake.ReadInt(kWindow, IntProperty::Visible), 1);
  }
  EXPECT_EQ(tutorials, 5);
  answer = kFoundAddress;
  Click();
  EXPECT_EQ(fake.Str(kPlayer, TextProperty::Address).ToUtf8(), kFoundAddress);
}

// The player address comes out of a web page: only an absolute web address may
// reach the player; anything else is the same as finding none.
TEST_F(MainWindowTest, OnlyHttpAndHttpsAddressesArePlayed) {
  struct Case {
    const char* address;
    bool played;
  };
  const Case cases[] = {
      {"http://player.youku.com/player.php/sid/XNDU2/v.swf", true},
      {"https://www.le.com/ptv/swf/player.swf?id=1", true},
      {"HTTP://player.youku.com/v.swf", true},
      {"hTtPs://x/", true},
      {"javascript:alert(document.cookie)", false},
      {"JavaScript:void(0)//http://", false},
      {"file:///etc/passwd", false},
      {"data:text/html,<script>alert(1)</script>", false},
      {"ftp://example.com/v.swf", false},
      {"about:blank", false},
      {"tencent://message/?uin=1", false},
      {"//player.youku.com/v.swf", false},
      {"/player.php/sid/x/v.swf", false},
      {" http://player.youku.com/v.swf", false},
      {"http:/player.youku.com/v.swf", false},
      {"http://", false},
      {"https:///etc/passwd", false},
      {"http://player.youku.com/v.swf\njavascript:alert(1)", false},
      {"http://a\tb/", false},
      {"http://a b/v.swf", false},
      {"", false},
  };
  WhileTutorial([](WindowHandlers& t) { t.clicked.at("按钮2")(); });
  for (const Case& c : cases) {
    SCOPED_TRACE(c.address);
    EXPECT_EQ(IsWebAddress(c.address), c.played);
    fake.WriteText(kPlayer, TextProperty::Address, "http://before/");
    answer = c.address;
    const std::size_t from = fake.log.size();
    Click();
    const std::vector<std::string> effects = LogSince(from);
    ASSERT_FALSE(effects.empty());
    if (c.played) {
      EXPECT_EQ(effects, std::vector<std::string>{std::string("write MainWindow.超文本浏览框1 address=") + c.address});
    } else {
      EXPECT_EQ(effects.front(), "write MainWindow visible=0");
      EXPECT_EQ(fake.Str(kPlayer, TextProperty::Address).bytes(), "http://before/");
    }
  }
}

TEST(Forms, EveryContainerIsAGroupOrPictureBoxOfTheSameForm) {
  for (const WindowForm& form : {MainWindowForm(), TutorialWindowForm()}) {
    std::set<std::string> names;
    for (const ControlForm& c : form.controls) EXPECT_TRUE(names.insert(c.name).second) << c.name;
    for (const ControlForm& c : form.controls) {
      if (c.container.empty()) continue;
      const ControlForm* holder = nullptr;
      for (const ControlForm& h : form.controls)
        if (h.name == c.container) holder = &h;
      ASSERT_NE(holder, nullptr) << form.name << " " << c.name;
      EXPECT_TRUE(holder->kind == ControlKind::GroupBox || holder->kind == ControlKind::PictureBox) << c.name;
    }
  }
}

TEST(Forms, TutorialAndContactAddresses) {
  EXPECT_EQ(TutorialPlayerAddress().bytes(), std::string("http://") + config::kYoukuPlayerHost + "/player.php/sid/" +
                                                 config::kTutorialVideoId + "/v.swf");
  EXPECT_EQ(ContactAddress().bytes(), std::string("tencent://message/?uin=") + config::kContactNumber + "&Menu=yes");
  EXPECT_TRUE(IsWebAddress(TutorialPlayerAddress()));
}

}  // namespace
}  // namespace telvoro::shell
