#include "shell/gtk/browser.h"

#include <webkit2/webkit2.h>

namespace telvoro::shell {

GtkWidget* CreateBrowserView() {
  static WebKitWebContext* context = [] {
    WebKitWebContext* c = webkit_web_context_get_default();
    const char* languages[] = {"zh-CN", nullptr};
    webkit_web_context_set_preferred_languages(c, languages);
    webkit_web_context_set_cache_model(c, WEBKIT_CACHE_MODEL_DOCUMENT_VIEWER);
    return c;
  }();
  return webkit_web_view_new_with_context(context);
}

}  // namespace telvoro::shell
