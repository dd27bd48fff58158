/* startup_maptime PREFIX PROGRAM [ARGS...]
 * Starts the program and prints the milliseconds from its start until a
 * top-level window whose name begins with PREFIX is mapped, then ends the
 * program (SIGTERM) and waits for it. Exit status 1 when no such window came
 * within 60 seconds. */
#define _POSIX_C_SOURCE 200809L
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static double Now(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

/* The window or one of its descendants (a window manager's frame holds the
 * client) is named with the prefix. */
static int Named(Display* d, Window w, const char* prefix, int depth) {
  char* name = NULL;
  int found = 0;
  if (XFetchName(d, w, &name) && name) {
    found = strncmp(name, prefix, strlen(prefix)) == 0;
    XFree(name);
  }
  if (found || depth == 0) return found;
  Window root, parent, *children = NULL;
  unsigned n = 0;
  if (XQueryTree(d, w, &root, &parent, &children, &n)) {
    for (unsigned i = 0; i < n && !found; ++i) found = Named(d, children[i], prefix, depth - 1);
    if (children) XFree(children);
  }
  return found;
}

static int IgnoreErrors(Display* d, XErrorEvent* e) {
  (void)d;
  (void)e;
  return 0;
}

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: %s PREFIX PROGRAM [ARGS...]\n", argv[0]);
    return 2;
  }
  Display* d = XOpenDisplay(NULL);
  if (!d) return 2;
  XSetErrorHandler(IgnoreErrors);
  XSelectInput(d, DefaultRootWindow(d), SubstructureNotifyMask);
  XSync(d, False);
  const double start = Now();
  pid_t child = fork();
  if (child == 0) {
    execvp(argv[2], argv + 2);
    _exit(127);
  }
  int status = 1;
  struct pollfd fd = {ConnectionNumber(d), POLLIN, 0};
  while (Now() - start < 60000) {
    while (XPending(d)) {
      XEvent e;
      XNextEvent(d, &e);
      if (e.type == MapNotify && Named(d, e.xmap.window, argv[1], 2)) {
        printf("%.1f\n", Now() - start);
        status = 0;
        goto done;
      }
    }
    poll(&fd, 1, 100);
  }
done:
  kill(child, SIGTERM);
  waitpid(child, NULL, 0);
  XCloseDisplay(d);
  return status;
}
