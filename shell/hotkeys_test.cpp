#include "shell/hotkeys.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "shell/fake_toolkit.h"
#include "shell/forms.h"

namespace telvoro::shell {
namespace {

constexpr int kF11 = 31, kF10 = 32;  // ids as a hotkey service might hand them out

class Hotkeys : public ::testing::Test {
 protected:
  void SetUp() override {
    addressBarHotkey = kF11;
    titleBarHotkey = kF10;
    fake.LoadWindow(MainWindowForm(), {}, false);
    fake.log.clear();
  }
  void TearDown() override {
    addressBarHotkey = 0;
    titleBarHotkey = 0;
  }
  int BarShown() { return fake.ReadInt(bar, IntProperty::Visible); }
  int Border() const { return fake.Int(window, IntProperty::Border); }

  FakeToolkit fake;
  const Ref bar{"MainWindow", "分组框1"};
  const Ref window{"MainWindow", ""};
};

TEST_F(Hotkeys, F11FlipsTheBarAndNothingElse) {
  std::vector<int> shown;
  for (int i = 0; i < 4; ++i) {
    OnHotkey(fake, kF11, 0);
    shown.push_back(BarShown());
  }
  EXPECT_EQ(shown, (std::vector<int>{0, 1, 0, 1}));
  EXPECT_EQ(Border(), 1);
  // Hiding the bar hides its label 标签1 too, the sink of both keys.
  OnHotkey(fake, kF11, 0);
  EXPECT_EQ(fake.ReadInt({"MainWindow", "标签1"}, IntProperty::Visible), 0);
  for (const auto& line : fake.log) EXPECT_EQ(line.rfind("write MainWindow.分组框1 visible=", 0), 0u) << line;
}

TEST_F(Hotkeys, F10FlipsTheBorderBetweenZeroAndOne) {
  std::vector<int> borders;
  for (int i = 0; i < 4; ++i) {
    OnHotkey(fake, kF10, 0);
    borders.push_back(Border());
  }
  EXPECT_EQ(borders, (std::vector<int>{0, 1, 0, 1}));
  EXPECT_EQ(BarShown(), 1);
  for (const auto& line : fake.log) EXPECT_EQ(line.rfind("write MainWindow border=", 0), 0u) << line;

  // A border other than 0 and 1 becomes 0, then 1.
  for (int other : {2, 3, 6, -1}) {
    fake.WriteInt(window, IntProperty::Border, other);
    OnHotkey(fake, kF10, 0);
    EXPECT_EQ(Border(), 0) << other;
    OnHotkey(fake, kF10, 0);
    EXPECT_EQ(Border(), 1) << other;
  }
}

TEST_F(Hotkeys, OtherIdsDoNothing) {
  for (long id : {0L, 1L, 33L, -31L, static_cast<long>(kF11) + (1L << 32)}) {
    OnHotkey(fake, id, 0);
    OnHotkey(fake, id, kF11);  // the second argument is not looked at
  }
  EXPECT_TRUE(fake.log.empty());
  EXPECT_EQ(BarShown(), 1);
  EXPECT_EQ(Border(), 1);
}

TEST_F(Hotkeys, RefusedKeysKeepZeroAndNeverAct) {
  addressBarHotkey = 0;
  OnHotkey(fake, 0, 0);
  EXPECT_TRUE(fake.log.empty());
  OnHotkey(fake, kF10, 0);
  EXPECT_EQ(Border(), 0);
  EXPECT_EQ(BarShown(), 1);
}

// Both checks run, one after the other: an id that stood for both keys would
// flip both properties.
TEST_F(Hotkeys, TheTwoChecksAreIndependent) {
  titleBarHotkey = kF11;
  OnHotkey(fake, kF11, 0);
  EXPECT_EQ(BarShown(), 0);
  EXPECT_EQ(Border(), 0);
}

// While MainWindow is hidden the bar reads hidden, so F11 always writes
// visible; F10 flips the stored border, which the window shows when it is back.
TEST_F(Hotkeys, WhileTheWindowIsHidden) {
  fake.WriteInt(window, IntProperty::Visible, 0);
  OnHotkey(fake, kF11, 0);
  OnHotkey(fake, kF11, 0);
  OnHotkey(fake, kF10, 0);
  fake.WriteInt(window, IntProperty::Visible, 1);
  EXPECT_EQ(BarShown(), 1);
  EXPECT_EQ(Border(), 0);

  // Hidden bar, then hidden window: the first F11 shows the bar again.
  OnHotkey(fake, kF11, 0);
  EXPECT_EQ(BarShown(), 0);
  fake.WriteInt(window, IntProperty::Visible, 0);
  OnHotkey(fake, kF11, 0);
  fake.WriteInt(window, IntProperty::Visible, 1);
  EXPECT_EQ(BarShown(), 1);
}

}  // namespace
}  // namespace telvoro::shell
