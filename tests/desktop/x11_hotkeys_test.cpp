// System-wide keys on a real X server (run inside tests/desktop/sandbox.sh):
// grabs, refusals when another client holds a key, lock states, repeats.

#include "shell/gtk/x11_hotkeys.h"

// gtest first: Xlib's macros (None, Bool, ...) would clash with it.
#include <gtest/gtest.h>

#include <X11/XKBlib.h>
#include <gdk/gdkx.h>
#include <gtk/gtk.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <thread>

namespace telvoro::shell {
namespace {

using Clock = std::chrono::steady_clock;

std::map<int, int> presses;  // id -> presses seen

void Count(int id) { ++presses[id]; }

// Lets the main loop run until the condition holds or the time is up.
template <typename Condition>
bool PumpUntil(Condition done, double seconds = 3.0) {
  const auto end = Clock::now() + std::chrono::duration<double>(seconds);
  while (!done() && Clock::now() < end) {
    while (g_main_context_pending(nullptr)) g_main_context_iteration(nullptr, FALSE);
    if (done()) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return done();
}

// Lets the main loop run for a while, for things that must not happen.
void Pump(double seconds) {
  PumpUntil([] { return false; }, seconds);
}

void Shell(const std::string& command) { ASSERT_EQ(std::system(command.c_str()), 0) << command; }

void SetLock(unsigned mask, bool on) {
  Display* display = gdk_x11_get_default_xdisplay();
  XkbLockModifiers(display, XkbUseCoreKbd, mask, on ? mask : 0);
  XSync(display, False);
}

// Another X client holding a key, tests/desktop/x_helper.c grab.
class OtherClient {
 public:
  OtherClient(const char* key, const char* mode) {
    int out[2];
    if (pipe(out) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], 1);
      close(out[0]);
      execl(TELVORO_X_HELPER, TELVORO_X_HELPER, "grab", key, mode, "60", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(out[1]);
    output_ = fdopen(out[0], "r");
  }
  ~OtherClient() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
    if (output_) fclose(output_);
  }
  std::string Line() {
    char line[64] = {};
    if (!output_ || !fgets(line, sizeof line, output_)) return {};
    std::string s(line);
    if (!s.empty() && s.back() == '\n') s.pop_back();
    return s;
  }

 private:
  pid_t pid_ = -1;
  FILE* output_ = nullptr;
};

class X11HotkeysTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    int argc = 0;
    ASSERT_TRUE(gtk_init_check(&argc, nullptr)) << "no display";
  }
  void SetUp() override {
    presses.clear();
    SetLock(LockMask | Mod2Mask, false);
  }
};

// The order of the cases matters: a grab lasts as long as the process.
TEST_F(X11HotkeysTest, GrabsAndNotifiesInEveryLockState) {
  X11Hotkeys hotkeys;
  const int f11 = hotkeys.Grab(122, Count);
  ASSERT_NE(f11, 0);
  const int f12 = hotkeys.Grab(123, Count);
  ASSERT_NE(f12, 0);
  EXPECT_NE(f11, f12);
  // One key, one registration.
  EXPECT_EQ(hotkeys.Grab(122, Count), 0);
  EXPECT_EQ(X11Hotkeys().Grab(122, Count), 0);
  // Keys without an X key give nothing.
  EXPECT_EQ(hotkeys.Grab(0, Count), 0);
  EXPECT_EQ(hotkeys.Grab(0xff, Count), 0);

  Shell("xdotool key F11");
  EXPECT_TRUE(PumpUntil([&] { return presses[f11] == 1; }));

  const struct {
    const char* what;
    unsigned locks;
  } states[] = {{"Num Lock", Mod2Mask}, {"Caps Lock", LockMask}, {"both", Mod2Mask | LockMask}};
  for (const auto& state : states) {
    SCOPED_TRACE(state.what);
    presses.clear();
    SetLock(state.locks, true);
    Shell("xdotool key F11 key F12");
    EXPECT_TRUE(PumpUntil([&] { return presses[f11] == 1 && presses[f12] == 1; }));
    SetLock(state.locks, false);
  }

  // Other modifiers make another key, which is not ours.
  presses.clear();
  Shell("xdotool key shift+F11 key ctrl+F11");
  Pump(0.5);
  EXPECT_EQ(presses[f11], 0);

  // A held key repeats at the keyboard's rate, and each repeat counts.
  presses.clear();
  Display* display = gdk_x11_get_default_xdisplay();
  XAutoRepeatOn(display);
  XkbSetAutoRepeatRate(display, XkbUseCoreKbd, 200, 33);
  XSync(display, False);
  Shell("xdotool keydown F12 sleep 1 keyup F12");
  EXPECT_TRUE(PumpUntil([&] { return presses[f12] >= 5; }));
  EXPECT_EQ(presses[f11], 0);
}

TEST_F(X11HotkeysTest, AKeyHeldElsewhereIsRefusedWholly) {
  X11Hotkeys hotkeys;
  {
    OtherClient other("F9", "all");
    ASSERT_EQ(other.Line(), "grabbed");
    EXPECT_EQ(hotkeys.Grab(120, Count), 0);
    // The other client keeps its key.
    Shell("xdotool key F9");
    EXPECT_EQ(other.Line(), "pressed");
  }
  {
    // Held only with Num Lock: our plain grab went through first and must be
    // given back, or a third client could not have the key.
    OtherClient other("F8", "numlock");
    ASSERT_EQ(other.Line(), "grabbed");
    EXPECT_EQ(hotkeys.Grab(119, Count), 0);
    OtherClient third("F8", "plain");
    EXPECT_EQ(third.Line(), "grabbed");
  }
  // Once the other client has gone, the key can be had.
  const int f9 = hotkeys.Grab(120, Count);
  EXPECT_NE(f9, 0);
  Shell("xdotool key F9");
  EXPECT_TRUE(PumpUntil([&] { return presses[f9] == 1; }));
}

}  // namespace
}  // namespace telvoro::shell
