#pragma once
// Merging cookie strings ("a=1; b=2") for callers that keep their own cookies.

#include <vector>

#include "text/text.h"

namespace telvoro {

// Folds receivedCookies into cookies; both are rewritten (blanks removed), and
// the merged string is returned as well.
Text MergeCookies(Text& cookies, Text& receivedCookies);
Text CookieName(const Text& piece);
bool HasCookieNamed(const std::vector<Text>& pieces, const Text& name);
Text JoinDistinct(const Text& text, const Text& separator);
int IndexOfText(const std::vector<Text>& pieces, const Text& text);

}  // namespace telvoro
