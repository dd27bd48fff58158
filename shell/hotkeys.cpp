#include "shell/hotkeys.h"

namespace telvoro::shell {

void OnHotkey(Toolkit&, long, long) {}

}  // namespace telvoro::shell
