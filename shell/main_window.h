#pragma once
// MainWindow: the player with its address bar, its layout and the play command.

#include <functional>

#include "shell/toolkit.h"
#include "text/text.h"

namespace telvoro::shell {

// Page address -> player address, or the empty Text when none is found.
using Resolver = std::function<Text(const Text& pageAddress)>;

// Loads MainWindow, not modal, with its handlers. Play resolves with `resolve`
// (ResolvePlayerAddress in the program).
void LoadMainWindow(Toolkit& toolkit, Resolver resolve);

// Size changed: the player fills the client area, the bar spans its width with
// the button 5 pixels from the right edge.
void LayOutMainWindow(Toolkit& toolkit);

// The play command: the player address of the page in 编辑框1 into
// 超文本浏览框1, or, when there is none, the tutorial window (modal) while
// MainWindow is hidden.
void Play(Toolkit& toolkit, const Resolver& resolve);

// Key pressed in 编辑框1: Enter plays; the key goes on to the box either way.
void OnAddressBoxKey(Toolkit& toolkit, const Resolver& resolve, int keyCode, int modifiers);

}  // namespace telvoro::shell
