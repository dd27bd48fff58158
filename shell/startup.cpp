#include "shell/startup.h"

namespace telvoro::shell {

void RunStartUp(Toolkit&) {}

}  // namespace telvoro::shell
