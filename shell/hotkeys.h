#pragma once
// F10 and F11: the handler of the feedback event of MainWindow's 标签1.

#include "shell/toolkit.h"

namespace telvoro::shell {

void OnHotkey(Toolkit& toolkit, long id, long second);

}  // namespace telvoro::shell
