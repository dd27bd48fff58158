#pragma once
// The work MainWindow does once, on its first activation.

#include "shell/toolkit.h"

namespace telvoro::shell {

void RunStartUp(Toolkit& toolkit);

}  // namespace telvoro::shell
