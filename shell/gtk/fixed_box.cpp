#include "shell/gtk/fixed_box.h"

#include <algorithm>
#include <vector>

namespace telvoro::shell {
namespace {

struct Child {
  GtkWidget* widget;
  GdkRectangle rect;
};

struct TelvoroFixedBox {
  GtkContainer parent;
  std::vector<Child>* children;  // first: top of the stack
  int requestWidth, requestHeight;
  bool hasBackground;
  GdkRGBA background;
  bool groupFrame;
};

struct TelvoroFixedBoxClass {
  GtkContainerClass parent_class;
};

G_DEFINE_TYPE(TelvoroFixedBox, telvoro_fixed_box, GTK_TYPE_CONTAINER)

TelvoroFixedBox* AsBox(GtkWidget* w) { return G_TYPE_CHECK_INSTANCE_CAST(w, telvoro_fixed_box_get_type(), TelvoroFixedBox); }

void telvoro_fixed_box_init(TelvoroFixedBox* box) {
  gtk_widget_set_has_window(GTK_WIDGET(box), TRUE);
  box->children = new std::vector<Child>();
  box->requestWidth = box->requestHeight = 0;
  box->hasBackground = false;
  box->groupFrame = false;
}

void FixedBoxFinalize(GObject* object) {
  delete reinterpret_cast<TelvoroFixedBox*>(object)->children;
  G_OBJECT_CLASS(telvoro_fixed_box_parent_class)->finalize(object);
}

// Sibling windows stacked as the children are listed: the first on top.
void Restack(TelvoroFixedBox* box) {
  for (auto it = box->children->rbegin(); it != box->children->rend(); ++it) {
    if (!gtk_widget_get_realized(it->widget) || !gtk_widget_get_has_window(it->widget)) continue;
    GdkWindow* w = gtk_widget_get_window(it->widget);
    if (w && gdk_window_get_parent(w) == gtk_widget_get_window(GTK_WIDGET(box))) gdk_window_raise(w);
  }
}

void FixedBoxRealize(GtkWidget* widget) {
  GtkAllocation a;
  gtk_widget_get_allocation(widget, &a);
  gtk_widget_set_realized(widget, TRUE);
  GdkWindowAttr attributes{};
  attributes.window_type = GDK_WINDOW_CHILD;
  attributes.x = a.x;
  attributes.y = a.y;
  attributes.width = a.width;
  attributes.height = a.height;
  attributes.wclass = GDK_INPUT_OUTPUT;
  attributes.visual = gtk_widget_get_visual(widget);
  attributes.event_mask = gtk_widget_get_events(widget) | GDK_EXPOSURE_MASK | GDK_BUTTON_PRESS_MASK |
                          GDK_BUTTON_RELEASE_MASK;
  GdkWindow* window = gdk_window_new(gtk_widget_get_parent_window(widget), &attributes,
                                     GDK_WA_X | GDK_WA_Y | GDK_WA_VISUAL);
  gtk_widget_set_window(widget, window);
  gtk_widget_register_window(widget, window);
  // Every child gets its window now, hidden ones too, so that the stacking
  // order is settled once and does not depend on the order of first showing.
  TelvoroFixedBox* box = AsBox(widget);
  for (const Child& c : *box->children) gtk_widget_realize(c.widget);
  Restack(box);
}

void FixedBoxMap(GtkWidget* widget) {
  GTK_WIDGET_CLASS(telvoro_fixed_box_parent_class)->map(widget);
  Restack(AsBox(widget));
  gdk_window_show(gtk_widget_get_window(widget));
}

void FixedBoxPreferredWidth(GtkWidget* widget, int* minimum, int* natural) {
  *minimum = *natural = AsBox(widget)->requestWidth;
}

void FixedBoxPreferredHeight(GtkWidget* widget, int* minimum, int* natural) {
  *minimum = *natural = AsBox(widget)->requestHeight;
}

void FixedBoxSizeAllocate(GtkWidget* widget, GtkAllocation* allocation) {
  gtk_widget_set_allocation(widget, allocation);
  if (gtk_widget_get_realized(widget))
    gdk_window_move_resize(gtk_widget_get_window(widget), allocation->x, allocation->y, allocation->width,
                           allocation->height);
  for (const Child& c : *AsBox(widget)->children) {
    // GTK wants the size asked before it is given; the answer does not change it.
    GtkRequisition ignored;
    gtk_widget_get_preferred_size(c.widget, &ignored, nullptr);
    GtkAllocation rect = c.rect;  // relative to our own window
    gtk_widget_size_allocate(c.widget, &rect);
  }
}

gboolean FixedBoxDraw(GtkWidget* widget, cairo_t* cr) {
  TelvoroFixedBox* box = AsBox(widget);
  const int w = gtk_widget_get_allocated_width(widget), h = gtk_widget_get_allocated_height(widget);
  if (box->hasBackground) {
    gdk_cairo_set_source_rgba(cr, &box->background);
    cairo_paint(cr);
  }
  if (box->groupFrame && h > 0) {
    // Of a group box's etched frame only the bottom edge is drawn: it parts
    // the bar from what lies below; the other edges would only be noise along
    // the controls that cover the box.
    cairo_set_line_width(cr, 1);
    cairo_set_source_rgb(cr, 0.75, 0.75, 0.75);
    cairo_move_to(cr, 0, h - 0.5);
    cairo_line_to(cr, w, h - 0.5);
    cairo_stroke(cr);
  }
  // Bottom of the stack first, so that earlier children are painted over later ones.
  for (auto it = box->children->rbegin(); it != box->children->rend(); ++it)
    gtk_container_propagate_draw(GTK_CONTAINER(widget), it->widget, cr);
  return FALSE;
}

void FixedBoxAdd(GtkContainer* container, GtkWidget* child) { FixedBoxPut(GTK_WIDGET(container), child, 0, 0, 0, 0); }

void FixedBoxRemove(GtkContainer* container, GtkWidget* child) {
  TelvoroFixedBox* box = AsBox(GTK_WIDGET(container));
  auto it = std::find_if(box->children->begin(), box->children->end(),
                         [child](const Child& c) { return c.widget == child; });
  if (it == box->children->end()) return;
  const bool wasVisible = gtk_widget_get_visible(child);
  box->children->erase(it);
  gtk_widget_unparent(child);
  if (wasVisible && gtk_widget_get_visible(GTK_WIDGET(container))) gtk_widget_queue_resize(GTK_WIDGET(container));
}

void FixedBoxForall(GtkContainer* container, gboolean, GtkCallback callback, gpointer data) {
  TelvoroFixedBox* box = AsBox(GTK_WIDGET(container));
  // A copy: the callback may remove the child (destruction).
  std::vector<GtkWidget*> widgets;
  for (auto it = box->children->rbegin(); it != box->children->rend(); ++it) widgets.push_back(it->widget);
  for (GtkWidget* w : widgets) callback(w, data);
}

GType FixedBoxChildType(GtkContainer*) { return GTK_TYPE_WIDGET; }

void telvoro_fixed_box_class_init(TelvoroFixedBoxClass* klass) {
  G_OBJECT_CLASS(klass)->finalize = FixedBoxFinalize;
  GtkWidgetClass* widget = GTK_WIDGET_CLASS(klass);
  widget->realize = FixedBoxRealize;
  widget->map = FixedBoxMap;
  widget->get_preferred_width = FixedBoxPreferredWidth;
  widget->get_preferred_height = FixedBoxPreferredHeight;
  widget->size_allocate = FixedBoxSizeAllocate;
  widget->draw = FixedBoxDraw;
  GtkContainerClass* container = GTK_CONTAINER_CLASS(klass);
  container->add = FixedBoxAdd;
  container->remove = FixedBoxRemove;
  container->forall = FixedBoxForall;
  container->child_type = FixedBoxChildType;
  gtk_container_class_handle_border_width(container);
}

}  // namespace

GtkWidget* FixedBoxNew() { return GTK_WIDGET(g_object_new(telvoro_fixed_box_get_type(), nullptr)); }

bool IsFixedBox(GtkWidget* widget) { return G_TYPE_CHECK_INSTANCE_TYPE(widget, telvoro_fixed_box_get_type()); }

void FixedBoxPut(GtkWidget* widget, GtkWidget* child, int x, int y, int width, int height) {
  TelvoroFixedBox* box = AsBox(widget);
  box->children->push_back({child, {x, y, std::max(width, 0), std::max(height, 0)}});
  gtk_widget_set_parent(child, widget);
  if (gtk_widget_get_realized(widget)) {
    gtk_widget_realize(child);
    Restack(box);
  }
}

void FixedBoxMove(GtkWidget* widget, GtkWidget* child, int x, int y, int width, int height) {
  TelvoroFixedBox* box = AsBox(widget);
  for (Child& c : *box->children) {
    if (c.widget != child) continue;
    c.rect = {x, y, std::max(width, 0), std::max(height, 0)};
    gtk_widget_queue_resize(child);
    gtk_widget_queue_allocate(widget);
    return;
  }
}

void FixedBoxSetRequest(GtkWidget* widget, int width, int height) {
  TelvoroFixedBox* box = AsBox(widget);
  box->requestWidth = std::max(width, 0);
  box->requestHeight = std::max(height, 0);
  gtk_widget_queue_resize(widget);
}

void FixedBoxSetBackground(GtkWidget* widget, const GdkRGBA* colour) {
  TelvoroFixedBox* box = AsBox(widget);
  box->hasBackground = colour != nullptr;
  if (colour) box->background = *colour;
  gtk_widget_queue_draw(widget);
}

void FixedBoxSetGroupFrame(GtkWidget* widget, bool on) {
  AsBox(widget)->groupFrame = on;
  gtk_widget_queue_draw(widget);
}

}  // namespace telvoro::shell
