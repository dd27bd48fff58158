#pragma once
// Our toolkit on GTK 3, with WebKitGTK views for the web-browser controls.

#include <memory>

#include "shell/toolkit.h"

namespace telvoro::shell {

class GtkToolkit : public Toolkit {
 public:
  // Opens the display (gtk_init).
  GtkToolkit(int* argc, char*** argv);
  ~GtkToolkit() override;

  void LoadWindow(const WindowForm& form, WindowHandlers handlers, bool modal) override;
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

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace telvoro::shell
