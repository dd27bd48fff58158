#pragma once
// F10 and F11: the handler of the feedback event of MainWindow's 标签1.

#include "shell/toolkit.h"

namespace telvoro::shell {

// The ids the hotkey service gave for F11 and F10; 0 before the registration
// and when the key was refused.
extern int addressBarHotkey;
extern int titleBarHotkey;

// F11 shows or hides the address bar 分组框1, F10 takes the frame and title bar
// of MainWindow away or gives them back. Any other id does nothing.
void OnHotkey(Toolkit& toolkit, long id, long second);

}  // namespace telvoro::shell
