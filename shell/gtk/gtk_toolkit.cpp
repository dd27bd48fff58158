#include "shell/gtk/gtk_toolkit.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <gdk/gdkx.h>
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "shell/gtk/browser.h"
#include "shell/gtk/data_files.h"
#include "shell/gtk/fixed_box.h"
#include "shell/gtk/x11_hotkeys.h"
#include "shell/services.h"

namespace telvoro::shell {
namespace {

struct Extents {
  int left = 0, right = 0, top = 0, bottom = 0;
};

struct Rect {
  int x = 0, y = 0, width = 0, height = 0;
};

struct WindowState;

struct Control {
  WindowState* window = nullptr;
  ControlForm form;
  GtkWidget* box = nullptr;        // the control's own clip box, put into its container
  GtkWidget* container = nullptr;  // the box of its container (the window's client box or a control's box)
  GtkWidget* inner = nullptr;      // entry, label, button, web view or picture; none for a group box
  int left = 0, top = 0, width = 0, height = 0;
  bool shown = true;
  Text address;  // web-browser control: the address last written
};

struct WindowState {
  GtkToolkit::Impl* toolkit = nullptr;
  WindowForm form;
  WindowHandlers handlers;
  GtkWidget* window = nullptr;
  GtkWidget* client = nullptr;  // the client area: a fixed box that fills the window
  std::map<std::string, Control> controls;
  Text caption;
  int border = 1;
  bool visible = false;
  bool alwaysOnTop = false;
  bool enabled = true;
  bool activated = false;
  bool destroying = false;
  bool modal = false;
  GMainLoop* modalLoop = nullptr;
  int clientWidth = 0, clientHeight = 0;
  Extents extents;                        // the frame around the client area now
  std::optional<Extents> framedExtents;   // the frame as the window manager last drew it
  std::optional<Rect> keepOuter;          // the outer rectangle to hold across a change of frame
  std::optional<Rect> hiddenOuter;        // where the window was when it was hidden
  std::vector<std::string> pendingLoads;  // browser controls whose form address is still to load
  gulong firstDrawHandler = 0;
  GtkWidget* firstBrowser = nullptr;
  bool firstBrowserSettled = false;       // its first load has committed a page or failed
  std::vector<std::string> waitingLoads;  // other browser controls waiting for that
};

bool Decorated(int border) { return border != 0; }
// Odd borders have a sizing frame; so has the frameless 0, for the program's own resizing.
bool Resizable(int border) { return border == 0 || border % 2 == 1; }

GdkRGBA ToRgba(const Colour& c) { return GdkRGBA{c.red / 255.0, c.green / 255.0, c.blue / 255.0, 1.0}; }

// GDK key values as the Windows virtual-key codes the handlers expect.
int VirtualKeyOf(guint keyval) {
  switch (keyval) {
    case GDK_KEY_Return: case GDK_KEY_KP_Enter: case GDK_KEY_ISO_Enter: return 13;
    case GDK_KEY_BackSpace: return 8;
    case GDK_KEY_Tab: case GDK_KEY_ISO_Left_Tab: return 9;
    case GDK_KEY_Escape: return 27;
    case GDK_KEY_space: return 32;
    case GDK_KEY_Page_Up: return 33;
    case GDK_KEY_Page_Down: return 34;
    case GDK_KEY_End: return 35;
    case GDK_KEY_Home: return 36;
    case GDK_KEY_Left: return 37;
    case GDK_KEY_Up: return 38;
    case GDK_KEY_Right: return 39;
    case GDK_KEY_Down: return 40;
    case GDK_KEY_Insert: return 45;
    case GDK_KEY_Delete: return 46;
    case GDK_KEY_Shift_L: case GDK_KEY_Shift_R: return 16;
    case GDK_KEY_Control_L: case GDK_KEY_Control_R: return 17;
    case GDK_KEY_Alt_L: case GDK_KEY_Alt_R: return 18;
    default: break;
  }
  if (keyval >= GDK_KEY_a && keyval <= GDK_KEY_z) return static_cast<int>(keyval - GDK_KEY_a) + 'A';
  if (keyval >= GDK_KEY_A && keyval <= GDK_KEY_Z) return static_cast<int>(keyval - GDK_KEY_A) + 'A';
  if (keyval >= GDK_KEY_0 && keyval <= GDK_KEY_9) return static_cast<int>(keyval - GDK_KEY_0) + '0';
  if (keyval >= GDK_KEY_F1 && keyval <= GDK_KEY_F24) return static_cast<int>(keyval - GDK_KEY_F1) + 112;
  return 0;
}

// Modifier state as the handlers know it: 1 Ctrl, 2 Shift, 4 Alt.
int ModifiersOf(guint state) {
  return ((state & GDK_CONTROL_MASK) ? 1 : 0) | ((state & GDK_SHIFT_MASK) ? 2 : 0) | ((state & GDK_MOD1_MASK) ? 4 : 0);
}

void AddCss(GtkWidget* widget, const std::string& css) {
  GtkCssProvider* provider = gtk_css_provider_new();
  gtk_css_provider_load_from_data(provider, css.c_str(), -1, nullptr);
  gtk_style_context_add_provider(gtk_widget_get_style_context(widget), GTK_STYLE_PROVIDER(provider),
                                 GTK_STYLE_PROVIDER_PRIORITY_APPLICATION + 1);
  g_object_unref(provider);
}

// Controls take the sizes of their forms; the theme's minimum heights and
// paddings are made for roomier layouts, so they are brought down for ours.
constexpr const char* kToolkitCss = R"(
.telvoro-window { font-size: 9pt; }
.telvoro-window entry { min-height: 0; padding-top: 0; padding-bottom: 0; }
.telvoro-window button { min-height: 0; min-width: 0; padding: 0 4px; }
)";

// --- X11: the window manager's frame -------------------------------------------

std::optional<Extents> ReadFrameExtents(GdkWindow* window) {
  GdkDisplay* display = gdk_window_get_display(window);
  if (!GDK_IS_X11_DISPLAY(display)) return std::nullopt;
  Display* x = GDK_DISPLAY_XDISPLAY(display);
  Atom property = gdk_x11_get_xatom_by_name_for_display(display, "_NET_FRAME_EXTENTS");
  Atom type = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  gdk_x11_display_error_trap_push(display);
  const int status = XGetWindowProperty(x, GDK_WINDOW_XID(window), property, 0, 4, False, XA_CARDINAL, &type,
                                        &format, &count, &after, &data);
  gdk_x11_display_error_trap_pop_ignored(display);
  std::optional<Extents> result;
  if (status == Success && type == XA_CARDINAL && format == 32 && count == 4 && data) {
    const long* v = reinterpret_cast<const long*>(data);
    result = Extents{static_cast<int>(v[0]), static_cast<int>(v[1]), static_cast<int>(v[2]), static_cast<int>(v[3])};
  }
  if (data) XFree(data);
  return result;
}

// Asks the window manager what frame it will put around the (realized, not yet
// shown) window, and waits a little for the answer.
std::optional<Extents> RequestFrameExtents(GdkWindow* window) {
  GdkDisplay* display = gdk_window_get_display(window);
  if (!GDK_IS_X11_DISPLAY(display)) return std::nullopt;
  GdkScreen* screen = gdk_window_get_screen(window);
  if (!gdk_x11_screen_supports_net_wm_hint(screen, gdk_atom_intern_static_string("_NET_REQUEST_FRAME_EXTENTS")))
    return std::nullopt;
  Display* x = GDK_DISPLAY_XDISPLAY(display);
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = GDK_WINDOW_XID(window);
  event.xclient.message_type = gdk_x11_get_xatom_by_name_for_display(display, "_NET_REQUEST_FRAME_EXTENTS");
  event.xclient.format = 32;
  XSendEvent(x, GDK_WINDOW_XID(gdk_screen_get_root_window(screen)), False,
             SubstructureRedirectMask | SubstructureNotifyMask, &event);
  XFlush(x);
  for (int i = 0; i < 150; ++i) {  // 300 ms at most
    if (auto extents = ReadFrameExtents(window)) return extents;
    g_usleep(2000);
  }
  return std::nullopt;
}

}  // namespace

// --- the toolkit ------------------------------------------------------------------

struct GtkToolkit::Impl {
  std::map<std::string, std::unique_ptr<WindowState>> windows;
  struct Pending {
    std::string window;
    int depth;  // the handler depth at which it was requested
  };
  std::vector<Pending> pending;
  int depth = 0;  // handlers running, nested loops included
  bool flushQueued = false;
  GMainLoop* mainLoop = nullptr;
  X11Hotkeys hotkeys;

  WindowState* Find(const std::string& name) {
    auto it = windows.find(name);
    return it == windows.end() ? nullptr : it->second.get();
  }

  Control* FindControl(const Ref& ref) {
    WindowState* w = Find(ref.window);
    if (!w) return nullptr;
    auto it = w->controls.find(ref.control);
    return it == w->controls.end() ? nullptr : &it->second;
  }

  // Runs one of the program's handlers. Destructions that it requested are
  // carried out once it has returned.
  template <typename F>
  void Dispatch(const F& handler) {
    if (!handler) return;
    auto keep = handler;  // the window may go while its handler runs
    ++depth;
    keep();
    --depth;
    FlushDestruction();
  }

  // Carries out the destructions requested by handlers that have returned.
  void FlushDestruction() {
    FlushWhere([this](const Pending& p) { return p.depth > depth; });
  }

  template <typename Pred>
  void FlushWhere(const Pred& due) {
    for (;;) {
      auto it = std::find_if(pending.begin(), pending.end(), due);
      if (it == pending.end()) return;
      const std::string name = it->window;
      pending.erase(it);
      if (WindowState* w = Find(name)) DestroyNow(w);
    }
  }

  // Requests made outside every handler.
  static gboolean FlushLater(gpointer data) {
    auto* self = static_cast<Impl*>(data);
    self->flushQueued = false;
    self->FlushWhere([](const Pending& p) { return p.depth == 0; });
    return G_SOURCE_REMOVE;
  }

  void DestroyNow(WindowState* w) {
    if (w->destroying) return;
    w->destroying = true;
    if (w->modal) {
      // The other windows come back to life before the window's last handler runs.
      for (auto& [name, other] : windows)
        if (other.get() != w) other->enabled = true;
      gtk_window_set_modal(GTK_WINDOW(w->window), FALSE);
    }
    Dispatch(w->handlers.willBeDestroyed);
    const std::string name = w->form.name;
    GMainLoop* loop = w->modalLoop;
    GtkWidget* window = w->window;
    auto owned = std::move(windows[name]);
    windows.erase(name);
    gtk_widget_destroy(window);
    owned.reset();
    if (loop) g_main_loop_quit(loop);
    if (windows.empty() && mainLoop) g_main_loop_quit(mainLoop);
  }

  // --- geometry of windows ---

  Extents FrameFor(const WindowState* w, int border) const {
    if (!Decorated(border)) return {};
    return w->framedExtents.value_or(Extents{});
  }

  // Gives the window the client size; a fixed frame takes it from its content.
  void SetClientSize(WindowState* w, int width, int height) {
    width = std::max(width, 1);
    height = std::max(height, 1);
    if (Resizable(w->border)) {
      FixedBoxSetRequest(w->client, 0, 0);
    } else {
      FixedBoxSetRequest(w->client, width, height);
    }
    gtk_window_resize(GTK_WINDOW(w->window), width, height);
  }

  void MoveFrameTo(WindowState* w, int x, int y) {
    // With the default gravity the window manager puts the frame's corner there.
    gtk_window_move(GTK_WINDOW(w->window), x, y);
    if (gtk_widget_get_realized(w->window)) gdk_window_move(gtk_widget_get_window(w->window), x, y);
  }

  Rect OuterRect(WindowState* w) {
    if (!gtk_widget_get_mapped(w->window) && w->hiddenOuter) return *w->hiddenOuter;
    Rect r;
    GdkWindow* gw = gtk_widget_get_window(w->window);
    int x = 0, y = 0;
    if (gw) gdk_window_get_origin(gw, &x, &y);
    r.x = x - w->extents.left;
    r.y = y - w->extents.top;
    r.width = w->clientWidth + w->extents.left + w->extents.right;
    r.height = w->clientHeight + w->extents.top + w->extents.bottom;
    return r;
  }

  // The frame may change; the outer rectangle stays.
  void HoldOuter(WindowState* w, const Rect& outer, const Extents& frame) {
    w->extents = frame;
    SetClientSize(w, outer.width - frame.left - frame.right, outer.height - frame.top - frame.bottom);
    MoveFrameTo(w, outer.x, outer.y);
  }

  void ApplyBorder(WindowState* w) {
    GtkWindow* window = GTK_WINDOW(w->window);
    gtk_window_set_decorated(window, Decorated(w->border));
    gtk_window_set_resizable(window, Resizable(w->border));
    if (GdkWindow* gw = gtk_widget_get_window(w->window)) {
      int functions = GDK_FUNC_MOVE;
      if (Resizable(w->border)) functions |= GDK_FUNC_RESIZE;
      if (w->form.minimiseButton) functions |= GDK_FUNC_MINIMIZE;
      if (w->form.maximiseButton && Resizable(w->border)) functions |= GDK_FUNC_MAXIMIZE;
      if (w->form.closeButton) functions |= GDK_FUNC_CLOSE;
      gdk_window_set_functions(gw, static_cast<GdkWMFunction>(functions));
      // Some window managers keep the buttons whatever the functions say, and
      // drop them only when the decorations leave them out.
      if (Decorated(w->border)) {
        int decorations = GDK_DECOR_BORDER | GDK_DECOR_TITLE | GDK_DECOR_MENU;
        if (Resizable(w->border)) decorations |= GDK_DECOR_RESIZEH;
        if (w->form.minimiseButton) decorations |= GDK_DECOR_MINIMIZE;
        if (w->form.maximiseButton && Resizable(w->border)) decorations |= GDK_DECOR_MAXIMIZE;
        gdk_window_set_decorations(gw, static_cast<GdkWMDecoration>(decorations));
      }
    }
  }

  void WriteBorder(WindowState* w, int border) {
    border = std::clamp(border, 0, 6);
    const Rect outer = OuterRect(w);
    w->border = border;
    ApplyBorder(w);
    w->keepOuter = outer;
    if (gtk_widget_get_mapped(w->window)) {
      HoldOuter(w, outer, FrameFor(w, border));
    } else {
      w->extents = FrameFor(w, border);  // shown with this frame at the old outer rectangle
    }
  }

  void ShowWindow(WindowState* w) {
    if (w->hiddenOuter) {
      HoldOuter(w, *w->hiddenOuter, FrameFor(w, w->border));
      if (w->keepOuter) w->keepOuter = w->hiddenOuter;
      w->hiddenOuter.reset();
    }
    gtk_widget_show(w->window);
  }

  void HideWindow(WindowState* w) {
    if (gtk_widget_get_mapped(w->window)) w->hiddenOuter = OuterRect(w);
    gtk_widget_hide(w->window);
  }

  // --- events ---

  static gboolean OnDelete(GtkWidget*, GdkEvent*, gpointer data) {
    auto* w = static_cast<WindowState*>(data);
    if (w->enabled) w->toolkit->DestroyNow(w);
    return TRUE;  // we destroy it ourselves, or not at all
  }

  static gboolean OnConfigure(GtkWidget*, GdkEventConfigure* event, gpointer data) {
    auto* w = static_cast<WindowState*>(data);
    if (event->width != w->clientWidth || event->height != w->clientHeight) {
      w->clientWidth = event->width;
      w->clientHeight = event->height;
      w->toolkit->Dispatch(w->handlers.sizeChanged);
    }
    return FALSE;
  }

  static gboolean OnProperty(GtkWidget*, GdkEventProperty* event, gpointer data) {
    auto* w = static_cast<WindowState*>(data);
    if (event->atom != gdk_atom_intern_static_string("_NET_FRAME_EXTENTS")) return FALSE;
    std::optional<Extents> extents = ReadFrameExtents(event->window);
    if (!extents) return FALSE;
    if (Decorated(w->border)) w->framedExtents = *extents;
    w->extents = *extents;
    if (w->keepOuter && gtk_widget_get_mapped(w->window)) {
      const Rect outer = *w->keepOuter;
      w->keepOuter.reset();
      w->toolkit->HoldOuter(w, outer, *extents);
    }
    return FALSE;
  }

  // Starting a load starts a web process, which takes a while and holds up
  // the main loop; the window is drawn first, then its browser controls begin
  // loading their form addresses.
  void LoadAfterFirstDraw(WindowState* w) {
    if (w->pendingLoads.empty()) return;
    w->firstDrawHandler = g_signal_connect_after(w->window, "draw", G_CALLBACK(OnFirstDraw), w);
    // A window that is not drawn soon (hidden at load) loads anyway.
    g_timeout_add(1000, StartPendingLoads, new std::pair<Impl*, std::string>(this, w->form.name));
  }

  static gboolean OnFirstDraw(GtkWidget*, cairo_t*, gpointer data) {
    auto* w = static_cast<WindowState*>(data);
    g_signal_handler_disconnect(w->window, w->firstDrawHandler);
    w->firstDrawHandler = 0;
    g_idle_add_full(G_PRIORITY_LOW, StartPendingLoads, new std::pair<Impl*, std::string>(w->toolkit, w->form.name),
                    nullptr);
    return FALSE;
  }

  static gboolean StartPendingLoads(gpointer data) {
    auto* self = static_cast<std::pair<Impl*, std::string>*>(data);
    if (WindowState* w = self->first->Find(self->second)) {
      if (w->firstDrawHandler) {
        g_signal_handler_disconnect(w->window, w->firstDrawHandler);
        w->firstDrawHandler = 0;
      }
      const std::vector<std::string> names = std::move(w->pendingLoads);
      w->pendingLoads.clear();
      for (const std::string& name : names) {
        auto it = w->controls.find(name);
        if (it != w->controls.end()) self->first->LoadAddress(w, it->second);
      }
    }
    delete self;
    return G_SOURCE_REMOVE;
  }

  static gboolean RunFirstActivated(gpointer data) {
    auto* self = static_cast<std::pair<Impl*, std::string>*>(data);
    if (WindowState* w = self->first->Find(self->second)) self->first->Dispatch(w->handlers.firstActivated);
    delete self;
    return G_SOURCE_REMOVE;
  }

  static void OnActive(GObject* object, GParamSpec*, gpointer data) {
    auto* w = static_cast<WindowState*>(data);
    if (w->activated || !gtk_window_is_active(GTK_WINDOW(object))) return;
    w->activated = true;
    // From the main loop, not from inside the notification.
    g_idle_add(RunFirstActivated, new std::pair<Impl*, std::string>(w->toolkit, w->form.name));
  }

  static gboolean OnBoxPress(GtkWidget*, GdkEventButton* event, gpointer data) {
    // Presses that the control itself did not take end here; on the window's
    // background, a label, a group box or a picture box they drag the window.
    auto* c = static_cast<Control*>(data);
    const ControlKind kind = c->form.kind;
    const bool background = kind == ControlKind::Label || kind == ControlKind::TransparentLabel ||
                            kind == ControlKind::GroupBox || kind == ControlKind::PictureBox;
    if (background) return StartMove(c->window, event);
    return TRUE;
  }

  static gboolean OnClientPress(GtkWidget*, GdkEventButton* event, gpointer data) {
    return StartMove(static_cast<WindowState*>(data), event);
  }

  static gboolean StartMove(WindowState* w, GdkEventButton* event) {
    if (event->type != GDK_BUTTON_PRESS || event->button != 1) return TRUE;
    if (!w->form.moveByBackground || !w->enabled) return TRUE;
    gtk_window_begin_move_drag(GTK_WINDOW(w->window), static_cast<int>(event->button), static_cast<int>(event->x_root),
                               static_cast<int>(event->y_root), event->time);
    return TRUE;
  }

  static void OnClicked(GtkButton*, gpointer data) {
    auto* c = static_cast<Control*>(data);
    auto it = c->window->handlers.clicked.find(c->form.name);
    if (it != c->window->handlers.clicked.end()) c->window->toolkit->Dispatch(it->second);
  }

  static gboolean OnKey(GtkWidget*, GdkEventKey* event, gpointer data) {
    auto* c = static_cast<Control*>(data);
    auto it = c->window->handlers.keyPressed.find(c->form.name);
    if (it == c->window->handlers.keyPressed.end()) return FALSE;
    const int key = VirtualKeyOf(event->keyval), modifiers = ModifiersOf(event->state);
    std::function<void()> call = [handler = it->second, key, modifiers] { handler(key, modifiers); };
    c->window->toolkit->Dispatch(call);
    return FALSE;  // the box goes on to handle the key as usual
  }

  // --- building ---

  void BuildControl(WindowState* w, Control& c) {
    const ControlForm& f = c.form;
    c.box = FixedBoxNew();
    switch (f.kind) {
      case ControlKind::EditBox: {
        c.inner = gtk_entry_new();
        gtk_entry_set_width_chars(GTK_ENTRY(c.inner), 1);
        gtk_entry_set_has_frame(GTK_ENTRY(c.inner), f.sunkenEdge);
        gtk_entry_set_text(GTK_ENTRY(c.inner), f.text.ToUtf8().c_str());
        g_signal_connect(c.inner, "key-press-event", G_CALLBACK(OnKey), &c);
        break;
      }
      case ControlKind::Label:
      case ControlKind::TransparentLabel: {
        c.inner = gtk_label_new(f.text.ToUtf8().c_str());
        gtk_label_set_xalign(GTK_LABEL(c.inner), f.alignment == Alignment::Centre ? 0.5f : 0.0f);
        gtk_label_set_yalign(GTK_LABEL(c.inner), 0.5f);
        gtk_label_set_justify(GTK_LABEL(c.inner),
                              f.alignment == Alignment::Centre ? GTK_JUSTIFY_CENTER : GTK_JUSTIFY_LEFT);
        if (f.kind == ControlKind::Label && f.background) {
          const GdkRGBA colour = ToRgba(*f.background);
          FixedBoxSetBackground(c.box, &colour);
        }
        break;
      }
      case ControlKind::PushButton:
        c.inner = gtk_button_new_with_label(f.text.ToUtf8().c_str());
        g_signal_connect(c.inner, "clicked", G_CALLBACK(OnClicked), &c);
        break;
      case ControlKind::GroupBox: {
        if (f.background) {
          const GdkRGBA colour = ToRgba(*f.background);
          FixedBoxSetBackground(c.box, &colour);
        }
        FixedBoxSetGroupFrame(c.box, true);
        break;
      }
      case ControlKind::PictureBox: {
        if (!f.picturePath.empty()) {
          std::string path = f.picturePath;
          if (path.front() != '/') path = FindDataFile(path);
          if (path.empty()) {
            std::fprintf(stderr, "telvoro: picture %s not found\n", f.picturePath.c_str());
          } else {
            c.inner = gtk_image_new_from_file(path.c_str());
          }
        }
        break;
      }
      case ControlKind::WebBrowser:
        // A hidden control without an address gets its view when it is first
        // used: a view takes a while to make, and the window can come up first.
        if (!f.visible && f.text.empty()) break;
        // The browser controls of one window share one web process.
        c.inner = NewBrowserView(w);
        if (!f.text.empty()) {
          // Loaded once the window has been drawn (StartPendingLoads).
          c.address = f.text;
          w->pendingLoads.push_back(f.name);
        }
        break;
    }
    if (c.inner) {
      std::string css;
      if (f.foreground) {
        css += "color: rgb(" + std::to_string(f.foreground->red) + "," + std::to_string(f.foreground->green) + "," +
               std::to_string(f.foreground->blue) + ");";
      }
      if (f.font) {
        if (!f.font->face.empty()) css += "font-family: \"" + f.font->face + "\";";
        if (f.font->pixelHeight > 0) css += "font-size: " + std::to_string(f.font->pixelHeight) + "px;";
        if (f.font->bold) css += "font-weight: bold;";
      }
      if (!css.empty()) AddCss(c.inner, "* {" + css + "}");
      gtk_widget_show(c.inner);
    }
    g_signal_connect(c.box, "button-press-event", G_CALLBACK(OnBoxPress), &c);
    c.window = w;
    c.left = f.left;
    c.top = f.top;
    c.width = std::max(f.width, 0);
    c.height = std::max(f.height, 0);
    c.shown = f.visible;
  }

  // The browser controls of one window share the web process of its first
  // view. WebKit can stall for good when another view starts a load before
  // the first view's own first load has settled which process it uses: the
  // first view's load then never leaves this process, and the player stays
  // blank. So the first view loads first, and the others wait until it has
  // committed a page or failed.
  GtkWidget* NewBrowserView(WindowState* w) {
    GtkWidget* view = CreateBrowserView(w->firstBrowser);
    if (w->firstBrowser) return view;
    w->firstBrowser = view;
    // Owned by the view; its handlers go with it.
    auto* key = new std::pair<Impl*, std::string>(this, w->form.name);
    g_object_set_data_full(G_OBJECT(view), "telvoro-window", key,
                           [](gpointer data) { delete static_cast<std::pair<Impl*, std::string>*>(data); });
    g_signal_connect(view, "load-changed", G_CALLBACK(OnFirstBrowserLoadChanged), key);
    g_signal_connect(view, "load-failed", G_CALLBACK(OnFirstBrowserLoadFailed), key);
    return view;
  }

  static void OnFirstBrowserLoadChanged(WebKitWebView* view, WebKitLoadEvent event, gpointer data) {
    if (event == WEBKIT_LOAD_COMMITTED || event == WEBKIT_LOAD_FINISHED) FirstBrowserSettled(view, data);
  }

  static gboolean OnFirstBrowserLoadFailed(WebKitWebView* view, WebKitLoadEvent, gchar*, GError* error,
                                           gpointer data) {
    // A load that gave way to another has settled nothing yet: that other load will.
    if (!LoadWasReplaced(error)) FirstBrowserSettled(view, data);
    return FALSE;
  }

  static void FirstBrowserSettled(WebKitWebView* view, gpointer data) {
    auto* key = static_cast<std::pair<Impl*, std::string>*>(data);
    WindowState* w = key->first->Find(key->second);
    if (!w || w->firstBrowser != GTK_WIDGET(view) || w->firstBrowserSettled) return;
    w->firstBrowserSettled = true;
    const std::vector<std::string> names = std::move(w->waitingLoads);
    w->waitingLoads.clear();
    for (const std::string& name : names) {
      auto it = w->controls.find(name);
      if (it != w->controls.end()) key->first->LoadAddress(w, it->second);
    }
  }

  void LoadAddress(WindowState* w, Control& c) {
    if (!c.inner) return;
    if (c.inner != w->firstBrowser && w->firstBrowser && !w->firstBrowserSettled) {
      // The first view's form address goes first, even before its window is drawn.
      for (auto& [name, other] : w->controls) {
        if (other.inner == w->firstBrowser && std::erase(w->pendingLoads, name)) LoadAddress(w, other);
      }
      // A view with an address has had a load started in it.
      const char* firstAddress = webkit_web_view_get_uri(WEBKIT_WEB_VIEW(w->firstBrowser));
      if (firstAddress && *firstAddress) {
        if (std::find(w->waitingLoads.begin(), w->waitingLoads.end(), c.form.name) == w->waitingLoads.end())
          w->waitingLoads.push_back(c.form.name);
        return;
      }
    }
    webkit_web_view_load_uri(WEBKIT_WEB_VIEW(c.inner), c.address.ToUtf8().c_str());
  }

  void EnsureBrowser(Control& c) {
    if (c.form.kind != ControlKind::WebBrowser || c.inner) return;
    WindowState* w = c.window;
    c.inner = NewBrowserView(w);
    gtk_widget_show(c.inner);
    FixedBoxPut(c.box, c.inner, 0, 0, c.width, c.height);
  }

  void PlaceInner(Control& c) {
    if (!c.inner) return;
    if (c.form.kind == ControlKind::PictureBox) {
      // At natural size from the top-left corner, below the box's own controls.
      GtkRequisition natural;
      gtk_widget_get_preferred_size(c.inner, nullptr, &natural);
      FixedBoxPut(c.box, c.inner, 0, 0, natural.width, natural.height);
    } else {
      FixedBoxPut(c.box, c.inner, 0, 0, c.width, c.height);
    }
  }

  void MoveControl(Control& c) {
    FixedBoxMove(c.container, c.box, c.left, c.top, c.width, c.height);
    if (c.inner && c.form.kind != ControlKind::PictureBox) FixedBoxMove(c.box, c.inner, 0, 0, c.width, c.height);
  }

  WindowState* Build(const WindowForm& form, WindowHandlers handlers, bool modal) {
    auto owned = std::make_unique<WindowState>();
    WindowState* w = owned.get();
    w->toolkit = this;
    w->form = form;
    w->handlers = std::move(handlers);
    w->caption = form.caption;
    w->border = std::clamp(form.border, 0, 6);
    w->alwaysOnTop = form.alwaysOnTop;
    w->modal = modal;
    windows[form.name] = std::move(owned);

    w->window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    GtkWindow* window = GTK_WINDOW(w->window);
    gtk_style_context_add_class(gtk_widget_get_style_context(w->window), "telvoro-window");
    gtk_window_set_title(window, form.caption.ToUtf8().c_str());
    gtk_window_set_skip_taskbar_hint(window, !form.showInTaskbar);
    gtk_window_set_keep_above(window, form.alwaysOnTop);
    gtk_window_set_deletable(window, form.closeButton);
    w->client = FixedBoxNew();
    gtk_container_add(GTK_CONTAINER(w->window), w->client);
    g_signal_connect(w->client, "button-press-event", G_CALLBACK(OnClientPress), w);

    for (const ControlForm& f : form.controls) {
      Control& c = w->controls[f.name];
      c.form = f;
      BuildControl(w, c);
    }
    // In form order, each into its container: the earlier lies above.
    for (const ControlForm& f : form.controls) {
      Control& c = w->controls[f.name];
      auto container = w->controls.find(f.container);
      c.container = f.container.empty() || container == w->controls.end() ? w->client : container->second.box;
      FixedBoxPut(c.container, c.box, c.left, c.top, c.width, c.height);
    }
    for (auto& [name, c] : w->controls) {
      PlaceInner(c);
      gtk_widget_set_visible(c.box, c.shown);
    }
    gtk_widget_show(w->client);
    for (const ControlForm& f : form.controls)
      if (f.kind == ControlKind::EditBox) {
        gtk_window_set_focus(window, w->controls[f.name].inner);
        break;
      }

    ApplyBorder(w);
    gtk_widget_realize(w->window);
    ApplyBorder(w);  // the window-manager functions need the realized window
    if (Decorated(w->border)) {
      if (auto extents = RequestFrameExtents(gtk_widget_get_window(w->window))) w->framedExtents = extents;
    }
    w->extents = FrameFor(w, w->border);
    w->clientWidth = std::max(form.outerWidth - w->extents.left - w->extents.right, 1);
    w->clientHeight = std::max(form.outerHeight - w->extents.top - w->extents.bottom, 1);
    SetClientSize(w, w->clientWidth, w->clientHeight);
    if (form.centred) {
      GdkDisplay* display = gtk_widget_get_display(w->window);
      GdkMonitor* monitor = gdk_display_get_primary_monitor(display);
      if (!monitor) monitor = gdk_display_get_monitor(display, 0);
      GdkRectangle area{0, 0, 0, 0};
      if (monitor) gdk_monitor_get_workarea(monitor, &area);
      MoveFrameTo(w, area.x + (area.width - form.outerWidth) / 2, area.y + (area.height - form.outerHeight) / 2);
    }
    g_signal_connect(w->window, "delete-event", G_CALLBACK(OnDelete), w);
    g_signal_connect(w->window, "configure-event", G_CALLBACK(OnConfigure), w);
    g_signal_connect(w->window, "property-notify-event", G_CALLBACK(OnProperty), w);
    g_signal_connect(w->window, "notify::is-active", G_CALLBACK(OnActive), w);
    return w;
  }
};

GtkToolkit::GtkToolkit(int* argc, char*** argv) : impl_(std::make_unique<Impl>()) {
  g_set_prgname("telvoro");
  // Frames, hotkeys and window placement speak X11; on a Wayland desktop the
  // program runs through XWayland.
  gdk_set_allowed_backends("x11");
  gtk_init(argc, argv);
  g_set_application_name("Telvoro");
  const std::string icon = FindDataFile("telvoro.png");
  if (!icon.empty()) gtk_window_set_default_icon_from_file(icon.c_str(), nullptr);
  GtkCssProvider* css = gtk_css_provider_new();
  gtk_css_provider_load_from_data(css, kToolkitCss, -1, nullptr);
  gtk_style_context_add_provider_for_screen(gdk_screen_get_default(), GTK_STYLE_PROVIDER(css),
                                            GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
  g_object_unref(css);
}

GtkToolkit::~GtkToolkit() = default;

void GtkToolkit::LoadWindow(const WindowForm& form, WindowHandlers handlers, bool modal) {
  if (impl_->Find(form.name)) return;  // a window is loaded once at a time
  WindowState* w = impl_->Build(form, std::move(handlers), modal);
  const std::string name = form.name;
  impl_->Dispatch(w->handlers.sizeChanged);
  w = impl_->Find(name);
  if (!w) return;
  if (modal) {
    for (auto& [other, state] : impl_->windows)
      if (state.get() != w) state->enabled = false;
    gtk_window_set_modal(GTK_WINDOW(w->window), TRUE);
  }
  w->visible = form.visible;
  if (form.visible) gtk_widget_show(w->window);
  impl_->LoadAfterFirstDraw(w);
  if (!modal) return;
  GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
  w->modalLoop = loop;
  g_main_loop_run(loop);  // until the window is destroyed
  g_main_loop_unref(loop);
}

void GtkToolkit::DestroyWindow(const std::string& window) {
  impl_->pending.push_back({window, impl_->depth});
  if (impl_->depth == 0 && !impl_->flushQueued) {
    impl_->flushQueued = true;
    g_idle_add(Impl::FlushLater, impl_.get());
  }
}

int GtkToolkit::ReadInt(const Ref& ref, IntProperty property) {
  WindowState* w = impl_->Find(ref.window);
  if (!w) return 0;
  if (ref.control.empty()) {
    switch (property) {
      case IntProperty::Left: return impl_->OuterRect(w).x;
      case IntProperty::Top: return impl_->OuterRect(w).y;
      case IntProperty::Width: return impl_->OuterRect(w).width;
      case IntProperty::Height: return impl_->OuterRect(w).height;
      case IntProperty::ClientWidth: return w->clientWidth;
      case IntProperty::ClientHeight: return w->clientHeight;
      case IntProperty::Visible: return w->visible ? 1 : 0;
      case IntProperty::Border: return w->border;
      case IntProperty::AlwaysOnTop: return w->alwaysOnTop ? 1 : 0;
    }
    return 0;
  }
  Control* c = impl_->FindControl(ref);
  if (!c) return 0;
  switch (property) {
    case IntProperty::Left: return c->left;
    case IntProperty::Top: return c->top;
    case IntProperty::Width: return c->width;
    case IntProperty::Height: return c->height;
    case IntProperty::Visible: {
      // Only while it and every container up to the window are shown.
      for (const Control* at = c; at; ) {
        if (!at->shown) return 0;
        auto up = w->controls.find(at->form.container);
        at = up == w->controls.end() ? nullptr : &up->second;
      }
      return w->visible ? 1 : 0;
    }
    default: return 0;
  }
}

void GtkToolkit::WriteInt(const Ref& ref, IntProperty property, int value) {
  WindowState* w = impl_->Find(ref.window);
  if (!w) return;
  if (ref.control.empty()) {
    switch (property) {
      case IntProperty::Left:
      case IntProperty::Top: {
        Rect r = impl_->OuterRect(w);
        (property == IntProperty::Left ? r.x : r.y) = value;
        if (!gtk_widget_get_mapped(w->window) && w->hiddenOuter) w->hiddenOuter = r;
        impl_->MoveFrameTo(w, r.x, r.y);
        break;
      }
      case IntProperty::Width:
      case IntProperty::Height: {
        Rect r = impl_->OuterRect(w);
        (property == IntProperty::Width ? r.width : r.height) = std::max(value, 0);
        if (!gtk_widget_get_mapped(w->window) && w->hiddenOuter) w->hiddenOuter = r;
        impl_->SetClientSize(w, r.width - w->extents.left - w->extents.right,
                             r.height - w->extents.top - w->extents.bottom);
        break;
      }
      case IntProperty::Visible:
        if (value & 1) {
          w->visible = true;
          impl_->ShowWindow(w);
        } else {
          w->visible = false;
          impl_->HideWindow(w);
        }
        break;
      case IntProperty::Border: impl_->WriteBorder(w, value); break;
      case IntProperty::AlwaysOnTop:
        w->alwaysOnTop = (value & 1) != 0;
        gtk_window_set_keep_above(GTK_WINDOW(w->window), w->alwaysOnTop);
        break;
      case IntProperty::ClientWidth:
      case IntProperty::ClientHeight: break;  // read only
    }
    return;
  }
  Control* c = impl_->FindControl(ref);
  if (!c) return;
  switch (property) {
    case IntProperty::Left: c->left = value; break;
    case IntProperty::Top: c->top = value; break;
    case IntProperty::Width: c->width = std::max(value, 0); break;
    case IntProperty::Height: c->height = std::max(value, 0); break;
    case IntProperty::Visible:
      c->shown = (value & 1) != 0;
      if (c->shown) impl_->EnsureBrowser(*c);
      gtk_widget_set_visible(c->box, c->shown);
      return;
    default: return;
  }
  impl_->MoveControl(*c);
}

Text GtkToolkit::ReadText(const Ref& ref, TextProperty property) {
  WindowState* w = impl_->Find(ref.window);
  if (!w) return {};
  if (ref.control.empty()) return property == TextProperty::Address ? Text() : w->caption;
  Control* c = impl_->FindControl(ref);
  if (!c) return {};
  if (property == TextProperty::Address) return c->address;
  if (!c->inner) return {};
  switch (c->form.kind) {
    case ControlKind::EditBox: return Text::FromUtf8(gtk_entry_get_text(GTK_ENTRY(c->inner)));
    case ControlKind::Label:
    case ControlKind::TransparentLabel: return Text::FromUtf8(gtk_label_get_text(GTK_LABEL(c->inner)));
    case ControlKind::PushButton: return Text::FromUtf8(gtk_button_get_label(GTK_BUTTON(c->inner)));
    default: return {};
  }
}

void GtkToolkit::WriteText(const Ref& ref, TextProperty property, const Text& value) {
  WindowState* w = impl_->Find(ref.window);
  if (!w) return;
  if (ref.control.empty()) {
    if (property == TextProperty::Address) return;
    w->caption = value;
    gtk_window_set_title(GTK_WINDOW(w->window), value.ToUtf8().c_str());
    return;
  }
  Control* c = impl_->FindControl(ref);
  if (c && property == TextProperty::Address) impl_->EnsureBrowser(*c);
  if (!c || !c->inner) return;
  const std::string utf8 = value.ToUtf8();
  if (property == TextProperty::Address) {
    if (c->form.kind != ControlKind::WebBrowser) return;
    c->address = value;
    // A newer address than the form's: the form's is not loaded any more.
    std::erase(w->pendingLoads, c->form.name);
    impl_->LoadAddress(w, *c);
    return;
  }
  switch (c->form.kind) {
    case ControlKind::EditBox: gtk_entry_set_text(GTK_ENTRY(c->inner), utf8.c_str()); break;
    case ControlKind::Label:
    case ControlKind::TransparentLabel: gtk_label_set_text(GTK_LABEL(c->inner), utf8.c_str()); break;
    case ControlKind::PushButton: gtk_button_set_label(GTK_BUTTON(c->inner), utf8.c_str()); break;
    default: break;
  }
}

NativeHandle GtkToolkit::Handle(const Ref& ref) {
  WindowState* w = impl_->Find(ref.window);
  if (!w) return 0;
  if (ref.control.empty()) return reinterpret_cast<NativeHandle>(w->window);
  Control* c = impl_->FindControl(ref);
  return c ? reinterpret_cast<NativeHandle>(c->box) : 0;
}

int GtkToolkit::MessageBox(const Text& text, int style, const Text& title) {
  GtkMessageType type = GTK_MESSAGE_OTHER;
  switch (style & 0x70) {
    case 16: type = GTK_MESSAGE_ERROR; break;
    case 32: type = GTK_MESSAGE_QUESTION; break;
    case 48: type = GTK_MESSAGE_WARNING; break;
    case 64: type = GTK_MESSAGE_INFO; break;
    default: break;
  }
  GtkWidget* dialog = gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, type, GTK_BUTTONS_NONE, "%s",
                                             text.ToUtf8().c_str());
  gtk_window_set_title(GTK_WINDOW(dialog), title.ToUtf8().c_str());
  gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);
  // GTK 3 draws no icon in a message box of its own accord; the stop and the
  // question mark tell the user what kind of box this is before they read it.
  const char* icon = type == GTK_MESSAGE_ERROR      ? "dialog-error"
                     : type == GTK_MESSAGE_QUESTION ? "dialog-question"
                     : type == GTK_MESSAGE_WARNING  ? "dialog-warning"
                     : type == GTK_MESSAGE_INFO     ? "dialog-information"
                                                    : nullptr;
  if (icon) {
    GtkWidget* image = gtk_image_new_from_icon_name(icon, GTK_ICON_SIZE_DIALOG);
    gtk_widget_show(image);
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    gtk_message_dialog_set_image(GTK_MESSAGE_DIALOG(dialog), image);
    G_GNUC_END_IGNORE_DEPRECATIONS
  }
  // Answers are offset so that none of them is one of GTK's own (negative) responses.
  constexpr int kBase = 100;
  const char* ok = "确定";
  const char* cancel = "取消";
  std::vector<std::pair<const char*, int>> buttons;
  int closeAnswer = kAnswerOk;
  switch (style & 0x0f) {
    case 1: buttons = {{ok, kAnswerOk}, {cancel, kAnswerCancel}}; closeAnswer = kAnswerCancel; break;
    case 2: buttons = {{"中止(_A)", 2}, {"重试(_R)", 3}, {"忽略(_I)", 4}}; closeAnswer = -1; break;
    case 3: buttons = {{"是(_Y)", kAnswerYes}, {"否(_N)", kAnswerNo}, {cancel, kAnswerCancel}};
      closeAnswer = kAnswerCancel;
      break;
    case 4: buttons = {{"是(_Y)", kAnswerYes}, {"否(_N)", kAnswerNo}}; closeAnswer = -1; break;
    case 5: buttons = {{"重试(_R)", 3}, {cancel, kAnswerCancel}}; closeAnswer = kAnswerCancel; break;
    default: buttons = {{ok, kAnswerOk}}; break;
  }
  for (const auto& [label, answer] : buttons) gtk_dialog_add_button(GTK_DIALOG(dialog), label, kBase + answer);
  gtk_dialog_set_default_response(GTK_DIALOG(dialog), kBase + buttons.front().second);
  // A box without a way to cancel cannot be closed from its title bar.
  gtk_window_set_deletable(GTK_WINDOW(dialog), closeAnswer >= 0);
  int answer = -1;
  while (answer < 0) {
    const int response = gtk_dialog_run(GTK_DIALOG(dialog));
    if (response >= kBase) {
      answer = response - kBase;
    } else if (closeAnswer >= 0) {
      answer = closeAnswer;
    }
  }
  gtk_widget_destroy(dialog);
  return answer;
}

void GtkToolkit::OpenAddress(const Text& address) {
  GdkAppLaunchContext* context = gdk_display_get_app_launch_context(gdk_display_get_default());
  GError* error = nullptr;
  // The outcome is not looked at: nothing handling the address is not our concern.
  g_app_info_launch_default_for_uri(address.ToUtf8().c_str(), G_APP_LAUNCH_CONTEXT(context), &error);
  if (error) g_error_free(error);
  g_object_unref(context);
}

int GtkToolkit::RegisterHotkey(NativeHandle, NativeHandle sink, int, int virtualKey) {
  // The sink is a control; its feedback event hears each press.
  for (auto& [name, w] : impl_->windows) {
    for (auto& [controlName, c] : w->controls) {
      if (reinterpret_cast<NativeHandle>(c.box) != sink) continue;
      Impl* impl = impl_.get();
      return impl->hotkeys.Grab(virtualKey, [impl, window = name, control = controlName](int id) {
        WindowState* target = impl->Find(window);
        if (!target) return;
        auto it = target->handlers.feedback.find(control);
        if (it == target->handlers.feedback.end()) return;
        std::function<void()> call = [handler = it->second, id] { handler(id, 0); };
        impl->Dispatch(call);
      });
    }
  }
  return 0;
}

bool GtkToolkit::IsOnline() { return CheckOnline(); }

Bytes GtkToolkit::DownloadPage(const Text& address) { return DownloadWholePage(address); }

Bytes GtkToolkit::ConvertEncoding(const Bytes& input, const Text& from, const Text& to) {
  return ConvertEncodingStrict(input, from, to);
}

void GtkToolkit::EndProgram(int exitCode) {
  std::fflush(nullptr);
  std::_Exit(exitCode);
}

int GtkToolkit::Run() {
  impl_->FlushDestruction();
  if (impl_->windows.empty()) return 0;
  impl_->mainLoop = g_main_loop_new(nullptr, FALSE);
  g_main_loop_run(impl_->mainLoop);
  g_main_loop_unref(impl_->mainLoop);
  impl_->mainLoop = nullptr;
  return 0;
}

}  // namespace telvoro::shell
