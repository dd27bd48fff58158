/* Small X clients for the desktop tests.
 *
 *   x_helper grab KEYSYM [all|plain|numlock] [lifetime-seconds]
 *     Another client that holds a key: grabs it on the root window in every
 *     lock state (or only without locks, or only with Num Lock), says
 *     "grabbed" (or "refused") on stdout, then prints "pressed" for each press
 *     until it is killed or its lifetime is over.
 *
 *   x_helper locks none|num|caps|both
 *     Locks Num Lock and Caps Lock as asked (the others off), as their keys
 *     would, and prints the lock state that the server reports.
 */
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

static int failed;

static int OnError(Display* display, XErrorEvent* error) {
  (void)display;
  if (error->error_code == BadAccess) failed = 1;
  return 0;
}

/* The modifier bit of a lock key, 0 when it sets none. */
static unsigned ModifierOf(Display* display, KeySym symbol) {
  const KeyCode code = XKeysymToKeycode(display, symbol);
  XModifierKeymap* map = XGetModifierMapping(display);
  unsigned mask = 0;
  for (int m = 0; m < 8 && code; ++m)
    for (int k = 0; k < map->max_keypermod; ++k)
      if (map->modifiermap[m * map->max_keypermod + k] == code) mask = 1u << m;
  XFreeModifiermap(map);
  return mask;
}

static int Grab(Display* display, const char* key, const char* mode, int lifetime) {
  const KeySym symbol = XStringToKeysym(key);
  const KeyCode code = symbol == NoSymbol ? 0 : XKeysymToKeycode(display, symbol);
  if (!code) return 2;
  const Window root = DefaultRootWindow(display);
  const unsigned num = ModifierOf(display, XK_Num_Lock);

  XSetErrorHandler(OnError);
  const unsigned locks[] = {0, LockMask, num, LockMask | num};
  for (unsigned i = 0; i < sizeof locks / sizeof locks[0]; ++i) {
    if (strcmp(mode, "plain") == 0 && locks[i] != 0) continue;
    if (strcmp(mode, "numlock") == 0 && locks[i] != num) continue;
    XGrabKey(display, code, locks[i], root, False, GrabModeAsync, GrabModeAsync);
  }
  XSync(display, False);
  puts(failed ? "refused" : "grabbed");
  fflush(stdout);
  if (failed) return 1;

  const time_t end = time(NULL) + lifetime;
  struct pollfd x = {ConnectionNumber(display), POLLIN, 0};
  while (time(NULL) < end) {
    while (XPending(display)) {
      XEvent event;
      XNextEvent(display, &event);
      if (event.type == KeyPress) {
        puts("pressed");
        fflush(stdout);
      }
    }
    poll(&x, 1, 500);
  }
  return 0;
}

static int Locks(Display* display, const char* which) {
  const unsigned num = ModifierOf(display, XK_Num_Lock);
  unsigned on = 0;
  if (strcmp(which, "num") == 0 || strcmp(which, "both") == 0) on |= num;
  if (strcmp(which, "caps") == 0 || strcmp(which, "both") == 0) on |= LockMask;
  XkbLockModifiers(display, XkbUseCoreKbd, num | LockMask, on);
  XSync(display, False);
  XkbStateRec state;
  if (XkbGetState(display, XkbUseCoreKbd, &state) != Success) return 1;
  printf("num=%d caps=%d\n", (state.locked_mods & num) != 0, (state.locked_mods & LockMask) != 0);
  return (state.locked_mods & (num | LockMask)) == on ? 0 : 1;
}

int main(int argc, char** argv) {
  Display* display = XOpenDisplay(NULL);
  if (!display) return 1;
  if (argc >= 3 && strcmp(argv[1], "grab") == 0)
    return Grab(display, argv[2], argc > 3 ? argv[3] : "all", argc > 4 ? atoi(argv[4]) : 120);
  if (argc == 3 && strcmp(argv[1], "locks") == 0) return Locks(display, argv[2]);
  fprintf(stderr, "usage: %s grab KEYSYM [all|plain|numlock] [lifetime] | locks none|num|caps|both\n", argv[0]);
  return 2;
}
