#pragma once
// The web-browser control's view: a WebKitWebView set up for Flash players.

#include <gtk/gtk.h>

namespace telvoro::shell {

// A new view sharing the program's web context (created on first use: Chinese
// language, Ruffle for Flash, the web process sandbox). With a related view,
// the new one also shares that view's web process: the controls of one window
// then need one web process, not one each.
GtkWidget* CreateBrowserView(GtkWidget* related = nullptr);

// Whether a failed load only gave way to another: a newer address, or Ruffle's
// player page in place of a movie's own response.
bool LoadWasReplaced(const GError* error);

}  // namespace telvoro::shell
