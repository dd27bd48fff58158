#include "shell/tutorial_window.h"

#include "shell/forms.h"

namespace telvoro::shell {

WindowHandlers TutorialWindowHandlers(Toolkit& toolkit) {
  WindowHandlers h;
  h.willBeDestroyed = [&toolkit] { toolkit.WriteInt({kMainWindow, ""}, IntProperty::Visible, 1); };
  // 观看视频教程: the tutorial video in the player, the bare player to watch it.
  h.clicked["按钮1"] = [&toolkit] {
    toolkit.WriteText({kMainWindow, "超文本浏览框1"}, TextProperty::Address, TutorialPlayerAddress());
    toolkit.WriteInt({kMainWindow, "分组框1"}, IntProperty::Visible, 0);
    toolkit.DestroyWindow(kTutorialWindow);
  };
  // 我 知 道 了
  h.clicked["按钮2"] = [&toolkit] { toolkit.DestroyWindow(kTutorialWindow); };
  // 联 系 作 者: whatever handles the link; the window stays.
  h.clicked["按钮3"] = [&toolkit] { toolkit.OpenAddress(ContactAddress()); };
  return h;
}

void LoadTutorialWindow(Toolkit& toolkit) {
  toolkit.LoadWindow(TutorialWindowForm(), TutorialWindowHandlers(toolkit), true);
}

}  // namespace telvoro::shell
