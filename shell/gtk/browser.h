#pragma once
// The web-browser control's view: a WebKitWebView set up for Flash players.

#include <gtk/gtk.h>

namespace telvoro::shell {

// A new view sharing the program's web context (created on first use: Chinese
// language, Ruffle for Flash, the web process sandbox).
GtkWidget* CreateBrowserView();

}  // namespace telvoro::shell
