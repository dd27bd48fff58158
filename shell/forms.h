#pragma once
// The forms of the two windows: settings and control tables as data.

#include "shell/toolkit.h"
#include "text/text.h"

namespace telvoro::shell {

inline constexpr const char* kMainWindow = "MainWindow";
inline constexpr const char* kTutorialWindow = "TutorialWindow";

// Picture files, looked up by the toolkit in the program's data directory.
inline constexpr const char* kStepOnePicture = "tutorial-step1.png";
inline constexpr const char* kStepTwoPicture = "tutorial-step2.png";

WindowForm MainWindowForm();
WindowForm TutorialWindowForm();

// "http://" + the first site's Flash-player host + "/player.php/sid/" + the
// tutorial video's id + "/v.swf".
Text TutorialPlayerAddress();
// "tencent://message/?uin=" + the author's contact number + "&Menu=yes".
Text ContactAddress();

}  // namespace telvoro::shell
