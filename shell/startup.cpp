#include "shell/startup.h"

#include <string_view>

#include <telvoro/config.h>

#include "resolve/regex_object.h"
#include "shell/hotkeys.h"
#include "shell/web_address.h"
#include "text/encoding.h"

namespace telvoro::shell {

namespace {

constexpr int kF10 = 121;
constexpr int kF11 = 122;

const Ref kMainWindow{"MainWindow", ""};

// The notice page as a Text, read afresh and strictly converted: a page that
// is not wholly UTF-8 with a GBK form gives the empty Text.
Text ReadNoticePage(Toolkit& toolkit, const Text& address) {
  Bytes converted = toolkit.ConvertEncoding(toolkit.DownloadPage(address), "UTF-8", "GBK");
  return ToText(converted);
}

}  // namespace

Text Utf8ToText(const Bytes& bytes) {
  if (bytes.empty()) return {};
  // The whole input is converted; the Text then ends at the first zero byte.
  return Text(Utf8ToGbk(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size())));
}

void RunStartUp(Toolkit& toolkit) {
  RegexObject linkObject;
  RegexObject countObject;

  if (!toolkit.IsOnline()) {
    toolkit.MessageBox(Text::FromUtf8("未检测到网络…"), kMessageBoxStop, Text::FromUtf8("无网络："));
    toolkit.EndProgram(0);
    return;
  }

  const Text noticePage(config::kNoticePage);
  toolkit.WriteText({"MainWindow", "超文本浏览框2"}, TextProperty::Address, noticePage);

  Text title;
  {
    const Text page = Utf8ToText(toolkit.DownloadPage(noticePage));
    title = TextBetween(page, "title content-title\">", "</h2>");
  }

  // A page that could not be read has no title; that is no news of a version.
  Text linkPage;
  if (!title.empty() && title != "4118") {
    const int answer = toolkit.MessageBox(Text::FromUtf8("软件已更新，是否更新最新版本？"), kMessageBoxQuestion,
                                          Text::FromUtf8("Kessan提示："));
    if (answer == kAnswerYes) {
      linkPage = ReadNoticePage(toolkit, noticePage);
      linkObject.Search("clearfix\"> <p>(.*?)</p> </div>", linkPage);
      const Text link = linkObject.SubMatchText(1, 1);
      if (IsWebAddress(link)) toolkit.OpenAddress(link);
      // Carried out once this handler has returned; the rest still runs.
      toolkit.DestroyWindow(kMainWindow.window);
    }
  }

  toolkit.WriteInt(kMainWindow, IntProperty::AlwaysOnTop, 1);

  const Text countPage = ReadNoticePage(toolkit, noticePage);
  countObject.Search(Text::FromUtf8("浏览(.*?)</span>"), countPage);
  toolkit.WriteText(kMainWindow, TextProperty::Caption,
                    Text::FromUtf8("Telvoro 使用人数") + countObject.SubMatchText(1, 1));

  {
    const NativeHandle owner = toolkit.Handle(kMainWindow);
    const NativeHandle sink = toolkit.Handle({"MainWindow", "标签1"});
    addressBarHotkey = toolkit.RegisterHotkey(owner, sink, 0, kF11);
  }
  {
    const NativeHandle owner = toolkit.Handle(kMainWindow);
    const NativeHandle sink = toolkit.Handle({"MainWindow", "标签1"});
    titleBarHotkey = toolkit.RegisterHotkey(owner, sink, 0, kF10);
  }
}

}  // namespace telvoro::shell
