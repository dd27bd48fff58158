#include "shell/hotkeys.h"

namespace telvoro::shell {

int addressBarHotkey = 0;
int titleBarHotkey = 0;

void OnHotkey(Toolkit& toolkit, long id, long) {
  // 0 is what a refused key keeps; no press ever carries it.
  if (id == 0) return;
  if (id == addressBarHotkey) {
    const Ref bar{"MainWindow", "分组框1"};
    const bool shown = toolkit.ReadInt(bar, IntProperty::Visible) & 1;
    toolkit.WriteInt(bar, IntProperty::Visible, shown ? 0 : 1);
  }
  if (id == titleBarHotkey) {
    const Ref window{"MainWindow", ""};
    const int border = toolkit.ReadInt(window, IntProperty::Border);
    toolkit.WriteInt(window, IntProperty::Border, border == 0 ? 1 : 0);
  }
}

}  // namespace telvoro::shell
