#include "shell/forms.h"

#include <string>

#include <telvoro/config.h>

namespace telvoro::shell {
namespace {

ControlForm Row(std::string name, ControlKind kind, std::string container, int left, int top, int width, int height,
                Text text = {}, bool visible = true) {
  ControlForm c;
  c.name = std::move(name);
  c.kind = kind;
  c.container = std::move(container);
  c.left = left;
  c.top = top;
  c.width = width;
  c.height = height;
  c.text = std::move(text);
  c.visible = visible;
  return c;
}

constexpr Colour kWhite{255, 255, 255};
constexpr Colour kBlack{0, 0, 0};
constexpr Colour kBlue{0, 0, 255};

}  // namespace

Text TutorialPlayerAddress() {
  return Text(std::string("http://") + config::kYoukuPlayerHost + "/player.php/sid/" + config::kTutorialVideoId +
              "/v.swf");
}

Text ContactAddress() {
  return Text(std::string("tencent://message/?uin=") + config::kContactNumber + "&Menu=yes");
}

WindowForm MainWindowForm() {
  WindowForm w;
  w.name = kMainWindow;
  w.caption = "Telvoro";
  w.outerWidth = 685;
  w.outerHeight = 485;
  w.centred = true;
  w.border = 1;
  w.minimiseButton = w.maximiseButton = w.closeButton = true;
  w.moveByBackground = true;
  w.showInTaskbar = true;
  w.alwaysOnTop = false;
  w.visible = true;

  using K = ControlKind;
  w.controls.push_back(Row("超文本浏览框2", K::WebBrowser, "", 16, 64, 100, 100, {}, false));

  ControlForm edit = Row("编辑框1", K::EditBox, "分组框1", 70, 15, 520, 25);
  edit.sunkenEdge = true;
  w.controls.push_back(edit);

  ControlForm caption = Row("标签1", K::Label, "分组框1", 5, 20, 60, 15, Text::FromUtf8("视频地址："));
  caption.foreground = kBlack;
  caption.background = kWhite;
  caption.alignment = Alignment::Left;
  w.controls.push_back(caption);

  w.controls.push_back(Row("超级按钮1", K::PushButton, "分组框1", 595, 12, 80, 30, Text::FromUtf8("迷你播放")));

  ControlForm bar = Row("分组框1", K::GroupBox, "", 0, -5, 680, 50);
  bar.background = kWhite;
  w.controls.push_back(bar);

  w.controls.push_back(Row("超文本浏览框1", K::WebBrowser, "", 0, 0, 680, 460, TutorialPlayerAddress()));

  ControlForm filler = Row("标签2", K::Label, "分组框1", 0, 7, 678, 40);
  filler.background = kWhite;
  w.controls.push_back(filler);
  return w;
}

WindowForm TutorialWindowForm() {
  WindowForm w;
  w.name = kTutorialWindow;
  w.caption = Text::FromUtf8("图文教程");
  w.outerWidth = 435;
  w.outerHeight = 360;
  w.centred = true;
  w.border = 2;
  w.minimiseButton = w.maximiseButton = false;
  w.closeButton = true;
  w.moveByBackground = true;
  w.showInTaskbar = true;
  w.alwaysOnTop = false;
  w.visible = true;

  using K = ControlKind;
  const Font hint{"宋体", 12, true};

  ControlForm f10 = Row("透明标签2", K::TransparentLabel, "图片框2", 260, -5, 160, 30,
                        Text::FromUtf8("按下F10显示、隐藏标题栏。"));
  f10.foreground = kWhite;
  f10.font = hint;
  w.controls.push_back(f10);

  ControlForm f11 = Row("透明标签1", K::TransparentLabel, "图片框2", 200, 28, 175, 30,
                        Text::FromUtf8("按下F11显示、隐藏视频搜索。"));
  f11.foreground = kBlack;
  f11.font = hint;
  w.controls.push_back(f11);

  w.controls.push_back(Row("按钮3", K::PushButton, "", 300, 300, 110, 30, Text::FromUtf8("联 系 作 者")));
  w.controls.push_back(Row("按钮2", K::PushButton, "", 25, 300, 110, 30, Text::FromUtf8("我 知 道 了")));
  w.controls.push_back(Row("按钮1", K::PushButton, "", 160, 300, 110, 30, Text::FromUtf8("观看视频教程")));

  ControlForm stepTwo = Row("图片框2", K::PictureBox, "", 0, 150, 430, 145);
  stepTwo.picturePath = kStepTwoPicture;
  w.controls.push_back(stepTwo);

  ControlForm stepOne = Row("图片框1", K::PictureBox, "", 2, 30, 424, 120);
  stepOne.picturePath = kStepOnePicture;
  w.controls.push_back(stepOne);

  ControlForm ask = Row("标签1", K::Label, "", 4, 5, 420, 20, Text::FromUtf8("请输入正确的优酷、土豆、乐视视频网址！"));
  ask.foreground = kBlue;
  ask.font = Font{"宋体", 19, true};
  ask.alignment = Alignment::Centre;
  w.controls.push_back(ask);
  return w;
}

}  // namespace telvoro::shell
