#pragma once
// System-wide keys without modifiers, grabbed on the X root window.

#include <functional>

namespace telvoro::shell {

class X11Hotkeys {
 public:
  using Pressed = std::function<void(int id)>;
  // Grabs the key of a Windows virtual-key code (121 F10, 122 F11, ...) with Num
  // Lock and Caps Lock in every state. Returns a new non-zero id, or 0 when the
  // key cannot be had (another client holds it). Each press calls onPress(id) on
  // the main loop.
  int Grab(int virtualKey, Pressed onPress);
};

}  // namespace telvoro::shell
