#pragma once
// Where the program's data (pictures, icon) lie: in the source tree when the
// program runs from its build tree, else under the install prefix.

#include <string>

namespace telvoro::shell {

// The full path of a data file, or the empty string when none is found.
std::string FindDataFile(const std::string& name);

}  // namespace telvoro::shell
