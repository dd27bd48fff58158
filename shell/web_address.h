#pragma once
#include "text/text.h"

namespace telvoro::shell {

// An address cut out of a web page that may be loaded by the player or handed
// to the desktop: absolute http or https, a host after the scheme, and no blank
// or control character (a parser would drop or split on them). Anything else
// (javascript:, file:, data:, a relative address) is no web address at all.
bool IsWebAddress(const Text& address);

}  // namespace telvoro::shell
