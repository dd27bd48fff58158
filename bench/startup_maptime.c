/* startup_maptime PREFIX PROGRAM [ARGS...]
 * Starts the program and prints the milliseconds from its start until a
 * top-level window whose name begins with PREFIX is mapped, then ends the
 * program (SIGTERM) and waits for it. Exit status 1 when no such window came
 * within 60 seconds. The program's output goes to $MAPTIME_LOG, else nowhere. */
#define _POSIX_C_SOURCE 200809L
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fcntl.h>
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

/* The window's _NET_WM_NAME (UTF-8), else its WM_NAME, begins with the prefix.
 * A title that is not Latin-1 (the program's caption once the start-up
 * sequence has run) is no STRING, so WM_NAME alone would not do. */
static int NameStarts(Display* d, Window w, const char* prefix) {
  Atom type;
  int format;
  unsigned long count, after;
  unsigned char* data = NULL;
  int found = 0;
  if (XGetWindowProperty(d, w, XInternAtom(d, "_NET_WM_NAME", False), 0, 256, False,
                         XInternAtom(d, "UTF8_STRING", False), &type, &format, &count, &after, &data) == Success &&
      data && format == 8) {
    found = strncmp((const char*)data, prefix, strlen(prefix)) == 0;
  } else {
    char* name = NULL;
    if (XFetchName(d, w, &name) && name) {
      found = strncmp(name, prefix, strlen(prefix)) == 0;
      XFree(name);
    }
  }
  if (data) XFree(data);
  return found;
}

/* A viewable window named with the prefix: the window itself or one of its
 * descendants (a window manager's frame holds the client). */
static int Shown(Display* d, Window w, const char* prefix, int depth) {
  XWindowAttributes a;
  if (!XGetWindowAttributes(d, w, &a) || a.map_state != IsViewable) return 0;
  int found = NameStarts(d, w, prefix);
  if (found || depth == 0) return found;
  Window root, parent, *children = NULL;
  unsigned n = 0;
  if (XQueryTree(d, w, &root, &parent, &children, &n)) {
    for (unsigned i = 0; i < n && !found; ++i) found = Shown(d, children[i], prefix, depth - 1);
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
    const char* log = getenv("MAPTIME_LOG");
    int out = open(log ? log : "/dev/null", O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (out >= 0) {
      dup2(out, 1);
      dup2(out, 2);
      close(out);
    }
    execvp(argv[2], argv + 2);
    _exit(127);
  }
  int status = 1;
  struct pollfd fd = {ConnectionNumber(d), POLLIN, 0};
  double checked = 0;
  while (Now() - start < 60000) {
    int changed = 0;
    while (XPending(d)) {
      XEvent e;
      XNextEvent(d, &e);
      changed = 1;
    }
    /* Something changed under the root (a map, a reparenting into a frame):
     * look whether the window is up. A window manager may map its frame
     * before the client is inside, so look again now and then as well. */
    if (changed || Now() - checked > 20) {
      checked = Now();
      if (Shown(d, DefaultRootWindow(d), argv[1], 3)) {
        printf("%.1f\n", Now() - start);
        status = 0;
        goto done;
      }
    }
    int ended;
    if (waitpid(child, &ended, WNOHANG) == child) {
      fprintf(stderr, "the program ended (status %d) before its window came\n", ended);
      XCloseDisplay(d);
      return 1;
    }
    poll(&fd, 1, 5);
  }
done:
  kill(child, SIGTERM);
  waitpid(child, NULL, 0);
  XCloseDisplay(d);
  return status;
}
