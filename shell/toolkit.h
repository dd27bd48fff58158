#pragma once
// Our window toolkit: the only face of the desktop that the player logic sees.
// Windows are loaded from declarative forms; controls are addressed by their
// form names within a window. One implementation runs on GTK, another records
// calls for the tests.

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "text/text.h"

namespace telvoro::shell {

enum class ControlKind { EditBox, Label, PushButton, GroupBox, PictureBox, TransparentLabel, WebBrowser };

struct Colour {
  std::uint8_t red = 0, green = 0, blue = 0;
  friend bool operator==(const Colour&, const Colour&) = default;
};

struct Font {
  std::string face;  // UTF-8 family name; fontconfig picks the nearest installed face
  int pixelHeight = 0;
  bool bold = false;
};

enum class Alignment { Left, Centre };

// One row of a form's control table. Positions are relative to the client area
// of the container; of two controls in one container the earlier lies above.
struct ControlForm {
  std::string name;       // form name, UTF-8 ("编辑框1")
  ControlKind kind = ControlKind::Label;
  std::string container;  // form name of the containing control; empty: the window
  int left = 0, top = 0, width = 0, height = 0;
  Text text;              // label or button text, edit-box content, or browser address at load
  bool visible = true;
  std::optional<Colour> foreground;
  std::optional<Colour> background;
  std::optional<Font> font;
  Alignment alignment = Alignment::Left;
  bool sunkenEdge = false;    // edit box
  std::string picturePath;    // picture box: file drawn at natural size from the top-left corner
};

struct WindowForm {
  std::string name;  // "MainWindow", "TutorialWindow"
  Text caption;
  int outerWidth = 0, outerHeight = 0;  // frame included
  bool centred = true;
  int border = 1;  // 0 none, 1 sizing frame and title bar, 2 fixed frame and title bar, 3..6 others
  bool minimiseButton = true, maximiseButton = true, closeButton = true;
  bool moveByBackground = false;
  bool showInTaskbar = true;
  bool alwaysOnTop = false;
  bool visible = true;
  std::vector<ControlForm> controls;
};

// Event handlers of one loaded window. Control events are keyed by form name.
struct WindowHandlers {
  std::function<void()> sizeChanged;
  std::function<void()> firstActivated;
  std::function<void()> willBeDestroyed;
  std::map<std::string, std::function<void()>> clicked;                           // push buttons
  std::map<std::string, std::function<void(int keyCode, int modifiers)>> keyPressed;  // edit boxes
  std::map<std::string, std::function<void(long first, long second)>> feedback;    // labels (hotkeys)
};

// A window ("MainWindow") or one of its controls ("MainWindow", "编辑框1").
struct Ref {
  std::string window;
  std::string control;  // empty: the window itself
  friend bool operator==(const Ref&, const Ref&) = default;
};

enum class IntProperty {
  Left,
  Top,
  Width,         // window: outer width
  Height,        // window: outer height
  ClientWidth,   // window only, read only
  ClientHeight,  // window only, read only
  Visible,       // 0/1; reads 1 only while it and all its containers are shown
  Border,        // window only, 0..6, a stored value
  AlwaysOnTop,   // window only
};

enum class TextProperty {
  Text,     // edit box content, label or button text
  Caption,  // window title
  Address,  // web-browser control: writing loads it
};

using NativeHandle = std::uintptr_t;

// Message-box styles and answers, with the numbers the logic uses.
inline constexpr int kMessageBoxStop = 16;        // stop icon, OK
inline constexpr int kMessageBoxQuestion = 36;    // question icon, Yes and No
inline constexpr int kAnswerOk = 0, kAnswerCancel = 1, kAnswerYes = 5, kAnswerNo = 6;

class Toolkit {
 public:
  virtual ~Toolkit() = default;

  // Creates the window, raises size changed once, shows it. Modal: the other
  // windows are disabled and the call returns once this window is destroyed.
  virtual void LoadWindow(const WindowForm& form, WindowHandlers handlers, bool modal) = 0;
  // Carried out after the running handler returns.
  virtual void DestroyWindow(const std::string& window) = 0;

  virtual int ReadInt(const Ref& ref, IntProperty property) = 0;
  virtual void WriteInt(const Ref& ref, IntProperty property, int value) = 0;
  virtual Text ReadText(const Ref& ref, TextProperty property) = 0;
  virtual void WriteText(const Ref& ref, TextProperty property, const Text& value) = 0;
  virtual NativeHandle Handle(const Ref& ref) = 0;

  // Modal to the program; returns one of the kAnswer values.
  virtual int MessageBox(const Text& text, int style, const Text& title) = 0;
  // Hands the address to the desktop's default handler; the outcome is not looked at.
  virtual void OpenAddress(const Text& address) = 0;

  // A system-wide key without modifiers: each press raises the feedback event of
  // the sink control with (id, 0). 0 when the key cannot be had.
  virtual int RegisterHotkey(NativeHandle owner, NativeHandle sink, int modifiers, int virtualKey) = 0;
  // True only when the computer can reach the internet.
  virtual bool IsOnline() = 0;
  // The whole body of a GET, never from a cache; empty on any failure.
  virtual Bytes DownloadPage(const Text& address) = 0;
  // Empty unless the whole input converts.
  virtual Bytes ConvertEncoding(const Bytes& input, const Text& from, const Text& to) = 0;
  // Ends the process at once.
  virtual void EndProgram(int exitCode) = 0;

  // Runs the message loop until the last loaded window has been destroyed.
  virtual int Run() = 0;
};

}  // namespace telvoro::shell
