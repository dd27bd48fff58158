#include "shell/fake_toolkit.h"

#include <algorithm>

#include "text/encoding.h"

namespace telvoro::shell {

std::string Describe(const Ref& ref) { return ref.control.empty() ? ref.window : ref.window + "." + ref.control; }

const char* Describe(IntProperty property) {
  switch (property) {
    case IntProperty::Left: return "left";
    case IntProperty::Top: return "top";
    case IntProperty::Width: return "width";
    case IntProperty::Height: return "height";
    case IntProperty::ClientWidth: return "clientWidth";
    case IntProperty::ClientHeight: return "clientHeight";
    case IntProperty::Visible: return "visible";
    case IntProperty::Border: return "border";
    case IntProperty::AlwaysOnTop: return "alwaysOnTop";
  }
  return "?";
}

const char* Describe(TextProperty property) {
  switch (property) {
    case TextProperty::Text: return "text";
    case TextProperty::Caption: return "caption";
    case TextProperty::Address: return "address";
  }
  return "?";
}

void FakeToolkit::LoadWindow(const WindowForm& form, WindowHandlers h, bool modal) {
  log.push_back("load " + form.name + (modal ? " modal" : ""));
  forms[form.name] = form;
  handlers[form.name] = std::move(h);
  loaded.push_back(form.name);
  auto& w = ints_[{form.name, ""}];
  w[IntProperty::Width] = form.outerWidth;
  w[IntProperty::Height] = form.outerHeight;
  // A frame of 5 by 25 pixels: the main window's 685 by 485 give the form's 680 by 460.
  const bool framed = form.border != 0;
  w[IntProperty::ClientWidth] = form.outerWidth - (framed ? 5 : 0);
  w[IntProperty::ClientHeight] = form.outerHeight - (framed ? 25 : 0);
  w[IntProperty::Visible] = form.visible ? 1 : 0;
  w[IntProperty::Border] = form.border;
  w[IntProperty::AlwaysOnTop] = form.alwaysOnTop ? 1 : 0;
  texts_[{form.name, ""}][TextProperty::Caption] = form.caption;
  for (const ControlForm& c : form.controls) {
    auto& p = ints_[{form.name, c.name}];
    p[IntProperty::Left] = c.left;
    p[IntProperty::Top] = c.top;
    p[IntProperty::Width] = c.width;
    p[IntProperty::Height] = c.height;
    p[IntProperty::Visible] = c.visible ? 1 : 0;
    texts_[{form.name, c.name}][c.kind == ControlKind::WebBrowser ? TextProperty::Address : TextProperty::Text] = c.text;
  }
  if (const auto& sized = handlers[form.name].sizeChanged) sized();
  if (!modal) return;

  if (auto user = whileModal.find(form.name); user != whileModal.end() && user->second) user->second();
  FlushDestruction();
  if (IsLoaded(form.name)) {  // the user closes it with the close button
    log.push_back("close button " + form.name);
    DestroyWindow(form.name);
    FlushDestruction();
  }
  log.push_back("modal load returned " + form.name);
}

void FakeToolkit::DestroyWindow(const std::string& window) {
  log.push_back("destroy " + window + " requested");
  pendingDestruction.push_back(window);
}

void FakeToolkit::FlushDestruction() {
  while (!pendingDestruction.empty()) {
    const std::string window = pendingDestruction.front();
    pendingDestruction.erase(pendingDestruction.begin());
    if (!IsLoaded(window)) continue;
    if (const auto& dying = handlers[window].willBeDestroyed) dying();
    loaded.erase(std::find(loaded.begin(), loaded.end(), window));
    log.push_back("destroyed " + window);
  }
}

void FakeToolkit::Resize(const std::string& window, int clientWidth, int clientHeight) {
  auto& w = ints_[{window, ""}];
  w[IntProperty::ClientWidth] = clientWidth;
  w[IntProperty::ClientHeight] = clientHeight;
  if (const auto& sized = handlers[window].sizeChanged) sized();
}

bool FakeToolkit::IsLoaded(const std::string& window) const {
  return std::find(loaded.begin(), loaded.end(), window) != loaded.end();
}

const ControlForm* FakeToolkit::FindControl(const Ref& ref) const {
  auto f = forms.find(ref.window);
  if (f == forms.end()) return nullptr;
  for (const ControlForm& c : f->second.controls)
    if (c.name == ref.control) return &c;
  return nullptr;
}

int FakeToolkit::Int(const Ref& ref, IntProperty property) const {
  auto p = ints_.find({ref.window, ref.control});
  if (p == ints_.end()) return 0;
  auto v = p->second.find(property);
  return v == p->second.end() ? 0 : v->second;
}

Text FakeToolkit::Str(const Ref& ref, TextProperty property) const {
  auto p = texts_.find({ref.window, ref.control});
  if (p == texts_.end()) return {};
  auto v = p->second.find(property);
  return v == p->second.end() ? Text() : v->second;
}

int FakeToolkit::ReadInt(const Ref& ref, IntProperty property) {
  if (property != IntProperty::Visible) return Int(ref, property);
  // Visible only while the control and every container up to the window are shown.
  Ref at = ref;
  while (true) {
    if (!Int(at, IntProperty::Visible)) return 0;
    if (at.control.empty()) return 1;
    const ControlForm* c = FindControl(at);
    at.control = c ? c->container : "";
  }
}

void FakeToolkit::WriteInt(const Ref& ref, IntProperty property, int value) {
  if (property == IntProperty::Width || property == IntProperty::Height) value = std::max(value, 0);
  log.push_back("write " + Describe(ref) + " " + Describe(property) + "=" + std::to_string(value));
  ints_[{ref.window, ref.control}][property] = value;
}

Text FakeToolkit::ReadText(const Ref& ref, TextProperty property) { return Str(ref, property); }

void FakeToolkit::WriteText(const Ref& ref, TextProperty property, const Text& value) {
  log.push_back("write " + Describe(ref) + " " + Describe(property) + "=" + value.ToUtf8());
  texts_[{ref.window, ref.control}][property] = value;
}

NativeHandle FakeToolkit::Handle(const Ref& ref) {
  auto it = std::find(handles_.begin(), handles_.end(), ref);
  if (it == handles_.end()) it = handles_.insert(handles_.end(), ref);
  return static_cast<NativeHandle>(it - handles_.begin()) + 0x1000;
}

int FakeToolkit::MessageBox(const Text& text, int style, const Text& title) {
  int answer = kAnswerOk;
  if (!messageBoxAnswers.empty()) {
    answer = messageBoxAnswers.front();
    messageBoxAnswers.pop_front();
  }
  log.push_back("messagebox " + std::to_string(style) + " " + title.ToUtf8() + " " + text.ToUtf8() + " -> " +
                std::to_string(answer));
  return answer;
}

void FakeToolkit::OpenAddress(const Text& address) { log.push_back("open " + address.ToUtf8()); }

int FakeToolkit::RegisterHotkey(NativeHandle, NativeHandle, int modifiers, int virtualKey) {
  int id = nextHotkey_++;
  if (!hotkeyIds.empty()) {
    id = hotkeyIds.front();
    hotkeyIds.pop_front();
  }
  log.push_back("hotkey " + std::to_string(virtualKey) + (modifiers ? "+" + std::to_string(modifiers) : "") +
                " -> " + std::to_string(id));
  return id;
}

bool FakeToolkit::IsOnline() {
  log.push_back(std::string("online? ") + (online ? "yes" : "no"));
  return online;
}

Bytes FakeToolkit::DownloadPage(const Text& address) {
  log.push_back("download " + address.ToUtf8());
  auto it = pages.find(address.bytes());
  if (it == pages.end() || it->second.empty()) return {};
  Bytes answer = it->second.front();
  if (it->second.size() > 1) it->second.pop_front();  // the last answer repeats
  return answer;
}

Bytes FakeToolkit::ConvertEncoding(const Bytes& input, const Text& from, const Text& to) {
  log.push_back("convert " + from.ToUtf8() + "->" + to.ToUtf8());
  // The real conversion, so that the logic sees real GBK.
  std::string in(input.begin(), input.end());
  auto out = ConvertStrict(in, from.c_str(), to.c_str());
  if (!out) return {};
  return Bytes(out->begin(), out->end());
}

void FakeToolkit::EndProgram(int exitCode) {
  log.push_back("end " + std::to_string(exitCode));
  endedWith = exitCode;
}

int FakeToolkit::Run() {
  FlushDestruction();
  return endedWith.value_or(0);
}

}  // namespace telvoro::shell
