#pragma once
// A toolkit that records what the logic asks of it, for the tests. Property
// writes are kept, so later reads see them; every call is also logged as one
// line, so a test can check the order of effects.

#include <deque>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "shell/toolkit.h"

namespace telvoro::shell {

class FakeToolkit : public Toolkit {
 public:
  // --- what the test scripts ---
  std::deque<int> messageBoxAnswers;       // taken in order; kAnswerOk when empty
  bool online = true;
  std::map<std::string, std::deque<Bytes>> pages;  // address (GBK bytes) -> answers in order; empty when none left
  std::deque<int> hotkeyIds;               // ids handed out in order; 1, 2, 3... when empty
  // Called while a modal window is "open", standing in for the user.
  std::map<std::string, std::function<void()>> whileModal;

  // --- what the test reads ---
  std::vector<std::string> log;  // one line per call, UTF-8
  std::map<std::string, WindowHandlers> handlers;
  std::map<std::string, WindowForm> forms;
  std::vector<std::string> pendingDestruction;
  std::vector<std::string> loaded;  // windows currently loaded
  std::optional<int> endedWith;

  void LoadWindow(const WindowForm& form, WindowHandlers h, bool modal) override;
  void DestroyWindow(const std::string& window) override;
  int ReadInt(const Ref& ref, IntProperty property) override;
  void WriteInt(const Ref& ref, IntProperty property, int value) override;
  Text ReadText(const Ref& ref, TextProperty property) override;
  void WriteText(const Ref& ref, TextProperty property, const Text& value) override;
  NativeHandle Handle(const Ref& ref) override;
  int MessageBox(const Text& text, int style, const Text& title) override;
  void OpenAddress(const Text& address) override;
  int RegisterHotkey(NativeHandle owner, NativeHandle sink, int modifiers, int virtualKey) override;
  bool IsOnline() override;
  Bytes DownloadPage(const Text& address) override;
  Bytes ConvertEncoding(const Bytes& input, const Text& from, const Text& to) override;
  void EndProgram(int exitCode) override;
  int Run() override;

  // Carries out the destructions requested so far, as the loop does after a handler.
  void FlushDestruction();
  // Sets the client size of a window and raises its size-changed event.
  void Resize(const std::string& window, int clientWidth, int clientHeight);
  bool IsLoaded(const std::string& window) const;
  // Stored value of a property, without logging.
  int Int(const Ref& ref, IntProperty property) const;
  Text Str(const Ref& ref, TextProperty property) const;

 private:
  const ControlForm* FindControl(const Ref& ref) const;
  std::map<std::pair<std::string, std::string>, std::map<IntProperty, int>> ints_;
  std::map<std::pair<std::string, std::string>, std::map<TextProperty, Text>> texts_;
  std::vector<Ref> handles_;
  int nextHotkey_ = 1;
};

std::string Describe(const Ref& ref);
const char* Describe(IntProperty property);
const char* Describe(TextProperty property);

}  // namespace telvoro::shell
