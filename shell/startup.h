#pragma once
// The work MainWindow does once, on its first activation.

#include "shell/toolkit.h"
#include "text/text.h"

namespace telvoro::shell {

// Online check, the browser's visit of the notice page, the version check with
// the update offer, always on top, the visit count in the caption, and at last
// the F11 and F10 hotkeys.
void RunStartUp(Toolkit& toolkit);

// UTF-8 bytes as a Text. Never fails: malformed UTF-8 and characters that GBK
// lacks get substitutes; the Text ends at the first zero byte.
Text Utf8ToText(const Bytes& bytes);

}  // namespace telvoro::shell
