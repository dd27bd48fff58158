#pragma once
// A container that places each child at an exact rectangle, whatever the
// child would like, clips the children to itself (it has its own window) and
// stacks them in the order they were put: the first child lies above all later
// ones, for drawing and for the pointer alike.

#include <gtk/gtk.h>

namespace telvoro::shell {

GtkWidget* FixedBoxNew();
// Puts the child below every child put before it.
void FixedBoxPut(GtkWidget* box, GtkWidget* child, int x, int y, int width, int height);
// Negative sizes are taken as 0.
void FixedBoxMove(GtkWidget* box, GtkWidget* child, int x, int y, int width, int height);
// The size the box asks of its own container (0 by 0 unless set).
void FixedBoxSetRequest(GtkWidget* box, int width, int height);
// A plain background colour painted under the children; nullptr: none (transparent).
void FixedBoxSetBackground(GtkWidget* box, const GdkRGBA* colour);
// A group box's frame (its bottom edge, a one-pixel line).
void FixedBoxSetGroupFrame(GtkWidget* box, bool on);
bool IsFixedBox(GtkWidget* widget);

}  // namespace telvoro::shell
