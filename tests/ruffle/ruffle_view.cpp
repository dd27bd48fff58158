// A window holding one browser control, as the player makes them, loading the
// address given on the command line. The Flash tests and benchmarks drive it.
//
//   ruffle_view [--console] [--width N --height N] address
//
// Reports on stdout, one line each: "finished <address>" when a load finishes,
// "failed <address> <message>", "web-process-terminated <reason>". --console
// makes the web process write the page's console messages to its stdout.

#include <webkit2/webkit2.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "shell/gtk/browser.h"

namespace {

void LoadChanged(WebKitWebView* view, WebKitLoadEvent event, gpointer) {
  if (event != WEBKIT_LOAD_FINISHED) return;
  const char* uri = webkit_web_view_get_uri(view);
  std::printf("finished %s\n", uri ? uri : "");
  std::fflush(stdout);
}

gboolean LoadFailed(WebKitWebView*, WebKitLoadEvent, char* uri, GError* error, gpointer) {
  std::printf("failed %s %s\n", uri ? uri : "", error ? error->message : "");
  std::fflush(stdout);
  return FALSE;
}

void WebProcessTerminated(WebKitWebView*, WebKitWebProcessTerminationReason reason, gpointer) {
  std::printf("web-process-terminated %d\n", static_cast<int>(reason));
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  gtk_init(&argc, &argv);
  bool console = false;
  int width = 680, height = 460;
  const char* address = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--console") == 0) {
      console = true;
    } else if (std::strcmp(argv[i], "--width") == 0 && i + 1 < argc) {
      width = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--height") == 0 && i + 1 < argc) {
      height = std::atoi(argv[++i]);
    } else {
      address = argv[i];
    }
  }
  if (!address) {
    std::fprintf(stderr, "usage: ruffle_view [--console] [--width N --height N] address\n");
    return 2;
  }

  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(window), "ruffle_view");
  gtk_window_set_default_size(GTK_WINDOW(window), width, height);
  g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), nullptr);

  GtkWidget* view = telvoro::shell::CreateBrowserView();
  if (console) {
    webkit_settings_set_enable_write_console_messages_to_stdout(webkit_web_view_get_settings(WEBKIT_WEB_VIEW(view)),
                                                                TRUE);
  }
  g_signal_connect(view, "load-changed", G_CALLBACK(LoadChanged), nullptr);
  g_signal_connect(view, "load-failed", G_CALLBACK(LoadFailed), nullptr);
  g_signal_connect(view, "web-process-terminated", G_CALLBACK(WebProcessTerminated), nullptr);
  gtk_container_add(GTK_CONTAINER(window), view);
  webkit_web_view_load_uri(WEBKIT_WEB_VIEW(view), address);
  gtk_widget_show_all(window);
  gtk_main();
  return 0;
}
