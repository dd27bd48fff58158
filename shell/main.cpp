// Telvoro: loads MainWindow and runs until the last window is gone.

#include "resolve/resolve.h"
#include "shell/gtk/gtk_toolkit.h"
#include "shell/main_window.h"

int main(int argc, char** argv) {
  telvoro::shell::GtkToolkit toolkit(&argc, &argv);
  telvoro::shell::LoadMainWindow(toolkit, [](const telvoro::Text& page) { return telvoro::ResolvePlayerAddress(page); });
  return toolkit.Run();
}
