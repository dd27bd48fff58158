#include "shell/gtk/browser.h"

#include <webkit2/webkit2.h>

#include <cstdio>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "shell/gtk/ruffle.h"

namespace telvoro::shell {

namespace {

// Ruffle as found when the first control was made; absent when it is not installed.
struct Ruffle {
  std::string directory;
  WebKitUserScript* polyfill = nullptr;
};

std::string JoinSearchPath(const std::vector<std::string>& path) {
  std::string out;
  for (const std::string& dir : path) out += (out.empty() ? "" : ", ") + dir;
  return out;
}

void FinishWithError(WebKitURISchemeRequest* request, GQuark domain, int code, const char* message) {
  GError* error = g_error_new_literal(domain, code, message);
  webkit_uri_scheme_request_finish_error(request, error);
  g_error_free(error);
}

// Serves Ruffle's files from the UI process, so the sandboxed web processes
// need no view of the disk and nothing of Ruffle comes from the internet.
void ServeRuffleFile(WebKitURISchemeRequest* request, gpointer data) {
  const auto* ruffle = static_cast<const Ruffle*>(data);
  const std::optional<std::string> name = ruffle::RequestedFile(webkit_uri_scheme_request_get_uri(request));
  if (!name) {
    FinishWithError(request, G_IO_ERROR, G_IO_ERROR_NOT_FOUND, "no such Ruffle file");
    return;
  }
  const std::string path = ruffle->directory + "/" + *name;
  GFile* file = g_file_new_for_path(path.c_str());
  GError* error = nullptr;
  GFileInputStream* stream = g_file_read(file, nullptr, &error);
  g_object_unref(file);
  if (!stream) {
    webkit_uri_scheme_request_finish_error(request, error);
    g_error_free(error);
    return;
  }
  gint64 size = -1;
  if (GFileInfo* info = g_file_input_stream_query_info(stream, G_FILE_ATTRIBUTE_STANDARD_SIZE, nullptr, nullptr)) {
    size = g_file_info_get_size(info);
    g_object_unref(info);
  }
  WebKitURISchemeResponse* response = webkit_uri_scheme_response_new(G_INPUT_STREAM(stream), size);
  g_object_unref(stream);
  const std::string contentType(ruffle::ContentType(*name));
  webkit_uri_scheme_response_set_content_type(response, contentType.c_str());
  // Pages of any origin load Ruffle's scripts and fetch its WebAssembly. The
  // headers replace all others, the content type included.
  SoupMessageHeaders* headers = soup_message_headers_new(SOUP_MESSAGE_HEADERS_RESPONSE);
  soup_message_headers_append(headers, "Content-Type", contentType.c_str());
  soup_message_headers_append(headers, "Access-Control-Allow-Origin", "*");
  webkit_uri_scheme_response_set_http_headers(response, headers);
  webkit_uri_scheme_request_finish_with_response(request, response);
  g_object_unref(response);
}

std::string_view WithoutFragment(std::string_view uri) { return uri.substr(0, uri.find('#')); }

// A player address that answers with a Flash movie becomes Ruffle's player of
// that movie, filling the control. Everything else loads as WebKit would.
gboolean DecidePolicy(WebKitWebView* view, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type,
                      gpointer) {
  if (type != WEBKIT_POLICY_DECISION_TYPE_RESPONSE) return FALSE;
  auto* responseDecision = WEBKIT_RESPONSE_POLICY_DECISION(decision);
  if (!webkit_response_policy_decision_is_main_frame_main_resource(responseDecision)) return FALSE;
  WebKitURIResponse* response = webkit_response_policy_decision_get_response(responseDecision);
  const char* uri = webkit_uri_response_get_uri(response);
  if (!uri || !(g_str_has_prefix(uri, "http://") || g_str_has_prefix(uri, "https://"))) return FALSE;
  std::optional<std::string> contentType;
  if (SoupMessageHeaders* headers = webkit_uri_response_get_http_headers(response)) {
    if (const char* value = soup_message_headers_get_one(headers, "Content-Type")) contentType = value;
  }
  if (!ruffle::IsFlashResponse(contentType, uri)) return FALSE;
  // While a handler blocks the main loop (a page download, a message box) the
  // control may have been given a new address since this answer came; showing
  // the old movie now would undo that newer load.
  const char* current = webkit_web_view_get_uri(view);
  const char* requested = webkit_uri_request_get_uri(webkit_response_policy_decision_get_request(responseDecision));
  if (!current || !requested || WithoutFragment(current) != WithoutFragment(requested)) return FALSE;

  // The movie is fetched again by the player page, from its own origin; this
  // response stops after its headers.
  const std::string address = uri;
  webkit_policy_decision_ignore(decision);
  webkit_web_view_load_alternate_html(view, ruffle::PlayerPage(address).c_str(), address.c_str(),
                                    address.c_str());
  return TRUE;
}

const Ruffle* SetUpRuffle(WebKitWebContext* context) {
  const std::vector<std::string> searchPath = ruffle::SearchPath();
  const std::optional<std::string> directory = ruffle::FindDirectory(searchPath);
  if (!directory) {
    std::fprintf(stderr, "telvoro: Flash players load without Ruffle: no ruffle.js in %s\n",
                 JoinSearchPath(searchPath).c_str());
    return nullptr;
  }
  const std::string script = *directory + "/ruffle.js";
  gchar* contents = nullptr;
  gsize length = 0;
  GError* error = nullptr;
  if (!g_file_get_contents(script.c_str(), &contents, &length, &error)) {
    std::fprintf(stderr, "telvoro: Flash players load without Ruffle: %s\n", error->message);
    g_error_free(error);
    return nullptr;
  }
  const std::string source(contents, length);
  g_free(contents);

  auto* ruffle = new Ruffle{*directory};  // lives as long as the program
  webkit_web_context_register_uri_scheme(context, ruffle::kScheme, ServeRuffleFile, ruffle, nullptr);
  WebKitSecurityManager* security = webkit_web_context_get_security_manager(context);
  // Secure: https pages may load it without a mixed-content block. CORS: the
  // WebAssembly fetch from a page's own origin is allowed.
  webkit_security_manager_register_uri_scheme_as_secure(security, ruffle::kScheme);
  webkit_security_manager_register_uri_scheme_as_cors_enabled(security, ruffle::kScheme);
  ruffle->polyfill = webkit_user_script_new(ruffle::PolyfillScript(source).c_str(), WEBKIT_USER_CONTENT_INJECT_ALL_FRAMES,
                                            WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
  return ruffle;
}

struct Context {
  WebKitWebContext* context = nullptr;
  const Ruffle* ruffle = nullptr;
};

const Context& SharedContext() {
  static const Context shared = [] {
    Context c;
    c.context = webkit_web_context_get_default();
    // Untrusted pages and Flash: every web process runs in bubblewrap. This
    // holds only when set before the first web process starts.
    webkit_web_context_set_sandbox_enabled(c.context, TRUE);
    // Our own requests say zh-CN; the controls say the same, whatever the
    // process locale (Ruffle cannot start under an engine language of "c").
    const char* languages[] = {"zh-CN", nullptr};
    webkit_web_context_set_preferred_languages(c.context, languages);
    webkit_web_context_set_cache_model(c.context, WEBKIT_CACHE_MODEL_DOCUMENT_VIEWER);
    c.ruffle = SetUpRuffle(c.context);
    return c;
  }();
  return shared;
}

// Whether the widget and its containers below the window are shown; a hidden
// window does not count, since it may be shown again.
bool ShownInItsWindow(GtkWidget* widget) {
  for (; widget && !gtk_widget_is_toplevel(widget); widget = gtk_widget_get_parent(widget))
    if (!gtk_widget_get_visible(widget)) return false;
  return true;
}

// A web process that dies leaves its controls blank, and the player would stay
// blank until the user plays again. Load the address once more, but not
// again within a short while: a page that kills its process every time must
// not start a loop.
void OnWebProcessTerminated(WebKitWebView* view, WebKitWebProcessTerminationReason reason, gpointer) {
  if (reason == WEBKIT_WEB_PROCESS_TERMINATED_BY_API) return;
  const char* uri = webkit_web_view_get_uri(view);
  if (!uri || !*uri) return;  // a control that shows nothing loses nothing
  const char* why = reason == WEBKIT_WEB_PROCESS_EXCEEDED_MEMORY_LIMIT ? "ran out of memory" : "crashed";
  constexpr std::int64_t kQuietMicroseconds = 30 * G_USEC_PER_SEC;
  static const char kLastReload[] = "telvoro-last-reload";
  const std::int64_t now = g_get_monotonic_time();
  auto* last = static_cast<std::int64_t*>(g_object_get_data(G_OBJECT(view), kLastReload));
  // A hidden control (the notice page's) is not loaded again: nobody sees it,
  // and each visit of the notice page counts as a use of the program.
  const bool again = ShownInItsWindow(GTK_WIDGET(view)) && (!last || now - *last >= kQuietMicroseconds);
  std::fprintf(stderr, "telvoro: the web process %s showing %s%s\n", why, uri, again ? "; loading it again" : "");
  if (!again) return;
  if (!last) {
    last = g_new(std::int64_t, 1);
    g_object_set_data_full(G_OBJECT(view), kLastReload, last, g_free);
  }
  *last = now;
  // Not from inside the signal: WebKit is still tearing the old process down
  // and drops a load asked for now.
  struct Reload {
    GWeakRef view;
    std::string uri;
  };
  auto* pending = new Reload{{}, uri};
  g_weak_ref_init(&pending->view, view);
  g_idle_add_full(
      G_PRIORITY_DEFAULT_IDLE,
      [](gpointer data) -> gboolean {
        auto* reload = static_cast<Reload*>(data);
        if (auto* alive = static_cast<WebKitWebView*>(g_weak_ref_get(&reload->view))) {
          webkit_web_view_load_uri(alive, reload->uri.c_str());
          g_object_unref(alive);
        }
        return G_SOURCE_REMOVE;
      },
      pending,
      [](gpointer data) {
        auto* reload = static_cast<Reload*>(data);
        g_weak_ref_clear(&reload->view);
        delete reload;
      });
}

// A player that does not load is otherwise silent; one line says why.
gboolean OnLoadFailed(WebKitWebView*, WebKitLoadEvent, gchar* uri, GError* error, gpointer) {
  if (!LoadWasReplaced(error)) std::fprintf(stderr, "telvoro: %s did not load: %s\n", uri, error->message);
  return FALSE;  // WebKit shows its own error page
}

}  // namespace

bool LoadWasReplaced(const GError* error) {
  return g_error_matches(error, WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_CANCELLED) ||
         g_error_matches(error, WEBKIT_POLICY_ERROR, WEBKIT_POLICY_ERROR_FRAME_LOAD_INTERRUPTED_BY_POLICY_CHANGE);
}

GtkWidget* CreateBrowserView(GtkWidget* related) {
  const Context& shared = SharedContext();
  // A related view shares the other's web process, user content manager
  // (with the polyfill already in it) and settings.
  GtkWidget* view = related ? webkit_web_view_new_with_related_view(WEBKIT_WEB_VIEW(related))
                            : webkit_web_view_new_with_context(shared.context);
  if (shared.ruffle) {
    if (!related)
      webkit_user_content_manager_add_script(webkit_web_view_get_user_content_manager(WEBKIT_WEB_VIEW(view)),
                                             shared.ruffle->polyfill);
    g_signal_connect(view, "decide-policy", G_CALLBACK(DecidePolicy), nullptr);
  }
  g_signal_connect(view, "web-process-terminated", G_CALLBACK(OnWebProcessTerminated), nullptr);
  g_signal_connect(view, "load-failed", G_CALLBACK(OnLoadFailed), nullptr);
  return view;
}

}  // namespace telvoro::shell
