#pragma once
// TutorialWindow: how to copy a page address and paste it, the two hotkeys,
// the tutorial video and the contact link.

#include "shell/toolkit.h"

namespace telvoro::shell {

// Loads TutorialWindow modally; returns once it has been destroyed, with
// MainWindow shown again.
void LoadTutorialWindow(Toolkit& toolkit);

WindowHandlers TutorialWindowHandlers(Toolkit& toolkit);

}  // namespace telvoro::shell
