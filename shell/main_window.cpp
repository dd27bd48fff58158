#include "shell/main_window.h"

#include <utility>

#include "shell/forms.h"
#include "shell/hotkeys.h"
#include "shell/startup.h"
#include "shell/tutorial_window.h"
#include "shell/web_address.h"

namespace telvoro::shell {
namespace {

const Ref kWindow{kMainWindow, ""};
const Ref kPlayer{kMainWindow, "超文本浏览框1"};
const Ref kAddressBox{kMainWindow, "编辑框1"};
const Ref kPlayButton{kMainWindow, "超级按钮1"};
const Ref kBar{kMainWindow, "分组框1"};

constexpr int kEnter = 13;

}  // namespace

void LayOutMainWindow(Toolkit& toolkit) {
  toolkit.WriteInt(kPlayer, IntProperty::Width, toolkit.ReadInt(kWindow, IntProperty::ClientWidth));
  toolkit.WriteInt(kPlayer, IntProperty::Height, toolkit.ReadInt(kWindow, IntProperty::ClientHeight));
  toolkit.WriteInt(kPlayButton, IntProperty::Left, toolkit.ReadInt(kWindow, IntProperty::ClientWidth) - 85);
  toolkit.WriteInt(kAddressBox, IntProperty::Width, toolkit.ReadInt(kWindow, IntProperty::ClientWidth) - 160);
  toolkit.WriteInt(kBar, IntProperty::Width, toolkit.ReadInt(kWindow, IntProperty::ClientWidth));
}

void Play(Toolkit& toolkit, const Resolver& resolve) {
  const Text pageAddress = toolkit.ReadText(kAddressBox, TextProperty::Text);
  Text address = resolve(pageAddress);
  if (!IsWebAddress(address)) address = Text();
  if (!address.empty()) {
    toolkit.WriteText(kPlayer, TextProperty::Address, address);
    return;
  }
  toolkit.WriteInt(kWindow, IntProperty::Visible, 0);
  LoadTutorialWindow(toolkit);
}

void OnAddressBoxKey(Toolkit& toolkit, const Resolver& resolve, int keyCode, int /*modifiers*/) {
  if (keyCode == kEnter) Play(toolkit, resolve);
}

void LoadMainWindow(Toolkit& toolkit, Resolver resolve) {
  WindowHandlers h;
  h.sizeChanged = [&toolkit] { LayOutMainWindow(toolkit); };
  h.firstActivated = [&toolkit] { RunStartUp(toolkit); };
  h.clicked["超级按钮1"] = [&toolkit, resolve] { Play(toolkit, resolve); };
  h.keyPressed["编辑框1"] = [&toolkit, resolve](int keyCode, int modifiers) {
    OnAddressBoxKey(toolkit, resolve, keyCode, modifiers);
  };
  h.feedback["标签1"] = [&toolkit](long first, long second) { OnHotkey(toolkit, first, second); };
  toolkit.LoadWindow(MainWindowForm(), std::move(h), false);
}

}  // namespace telvoro::shell
