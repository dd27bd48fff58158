#include "shell/gtk/x11_hotkeys.h"

#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <gdk/gdkx.h>
#include <gdk/gdk.h>

#include <vector>

namespace telvoro::shell {

namespace {

struct Grabbed {
  int id;
  KeyCode code;
  X11Hotkeys::Pressed onPress;
};

// Grabs live as long as the X connection, that is the process; so does this.
struct Registry {
  std::vector<Grabbed> keys;
  int lastId = 0;
  bool filtering = false;
  unsigned ignoredLocks = 0;  // modifier bits of Caps Lock, Num Lock and Scroll Lock
  Window root = 0;
};

Registry& Keys() {
  static Registry* registry = new Registry;
  return *registry;
}

KeySym KeySymOfVirtualKey(int virtualKey) {
  if (virtualKey >= 0x70 && virtualKey <= 0x87) return XK_F1 + static_cast<KeySym>(virtualKey - 0x70);
  if (virtualKey >= '0' && virtualKey <= '9') return XK_0 + static_cast<KeySym>(virtualKey - '0');
  if (virtualKey >= 'A' && virtualKey <= 'Z') return XK_a + static_cast<KeySym>(virtualKey - 'A');
  return NoSymbol;
}

// The modifier bit that a lock key sets in the key state, 0 when it sets none.
unsigned ModifierOfKey(Display* display, KeySym lockKey) {
  const KeyCode code = XKeysymToKeycode(display, lockKey);
  if (code == 0) return 0;
  XModifierKeymap* map = XGetModifierMapping(display);
  if (!map) return 0;
  unsigned mask = 0;
  for (int modifier = 0; modifier < 8 && !mask; ++modifier)
    for (int k = 0; k < map->max_keypermod; ++k)
      if (map->modifiermap[modifier * map->max_keypermod + k] == code) {
        mask = 1u << modifier;
        break;
      }
  XFreeModifiermap(map);
  return mask;
}

// Every combination of the lock bits, none first.
std::vector<unsigned> LockCombinations(unsigned locks) {
  std::vector<unsigned> combinations{0};
  for (unsigned bit = 1; bit <= Mod5Mask; bit <<= 1) {
    if (!(locks & bit)) continue;
    const std::size_t n = combinations.size();
    for (std::size_t i = 0; i < n; ++i) combinations.push_back(combinations[i] | bit);
  }
  return combinations;
}

GdkFilterReturn FilterKeys(GdkXEvent* native, GdkEvent*, gpointer) {
  const XEvent* event = static_cast<const XEvent*>(native);
  if (event->type != KeyPress && event->type != KeyRelease) return GDK_FILTER_CONTINUE;
  Registry& registry = Keys();
  if (event->xkey.window != registry.root) return GDK_FILTER_CONTINUE;
  const unsigned pressedModifiers = event->xkey.state & (ShiftMask | LockMask | ControlMask | Mod1Mask | Mod2Mask |
                                                         Mod3Mask | Mod4Mask | Mod5Mask);
  if (pressedModifiers & ~registry.ignoredLocks) return GDK_FILTER_CONTINUE;
  for (const Grabbed& key : registry.keys) {
    if (key.code != event->xkey.keycode) continue;
    if (event->type == KeyPress) {
      // Out of the event filter, before anything is redrawn; a held key
      // repeats its presses, and each one counts.
      struct Press {
        X11Hotkeys::Pressed onPress;
        int id;
      };
      g_idle_add_full(
          G_PRIORITY_DEFAULT,
          [](gpointer data) -> gboolean {
            const auto* press = static_cast<const Press*>(data);
            if (press->onPress) press->onPress(press->id);
            return G_SOURCE_REMOVE;
          },
          new Press{key.onPress, key.id}, [](gpointer data) { delete static_cast<Press*>(data); });
    }
    return GDK_FILTER_REMOVE;
  }
  return GDK_FILTER_CONTINUE;
}

}  // namespace

int X11Hotkeys::Grab(int virtualKey, Pressed onPress) {
  GdkDisplay* gdkDisplay = gdk_display_get_default();
  if (!gdkDisplay || !GDK_IS_X11_DISPLAY(gdkDisplay)) return 0;
  Display* display = GDK_DISPLAY_XDISPLAY(gdkDisplay);
  const KeySym symbol = KeySymOfVirtualKey(virtualKey);
  if (symbol == NoSymbol) return 0;
  const KeyCode code = XKeysymToKeycode(display, symbol);
  if (code == 0) return 0;

  Registry& registry = Keys();
  // One key, one registration, as on Windows: a second one is refused.
  for (const Grabbed& key : registry.keys)
    if (key.code == code) return 0;

  registry.root = gdk_x11_get_default_root_xwindow();
  registry.ignoredLocks =
      LockMask | ModifierOfKey(display, XK_Num_Lock) | ModifierOfKey(display, XK_Scroll_Lock);

  // Each grab on its own, each known at once: BadAccess says another client
  // holds that combination, and then the key is not ours in any lock state.
  std::vector<unsigned> held;
  for (const unsigned modifiers : LockCombinations(registry.ignoredLocks)) {
    gdk_x11_display_error_trap_push(gdkDisplay);
    XGrabKey(display, code, modifiers, registry.root, False, GrabModeAsync, GrabModeAsync);
    if (gdk_x11_display_error_trap_pop(gdkDisplay) != 0) {
      // Given back at once: the key must be free for whoever holds the rest.
      gdk_x11_display_error_trap_push(gdkDisplay);
      for (const unsigned grabbed : held) XUngrabKey(display, code, grabbed, registry.root);
      XSync(display, False);
      gdk_x11_display_error_trap_pop_ignored(gdkDisplay);
      return 0;
    }
    held.push_back(modifiers);
  }

  if (!registry.filtering) {
    gdk_window_add_filter(nullptr, &FilterKeys, nullptr);
    registry.filtering = true;
  }
  const int id = ++registry.lastId;
  registry.keys.push_back({id, code, std::move(onPress)});
  return id;
}

}  // namespace telvoro::shell
