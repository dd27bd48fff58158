#include "web/cookies.h"

namespace telvoro {

Text MergeCookies(Text& cookies, Text& receivedCookies) {
  // Blanks go everywhere, values included, so that pieces compare without them.
  cookies = RemoveSpaces(cookies);
  receivedCookies = RemoveSpaces(receivedCookies);

  const std::vector<Text> old = Split(cookies, ";");
  std::vector<Text> list = Split(receivedCookies, ";");
  // A received cookie replaces the old one of its name; of several old pieces
  // with one name only the first is taken over, since the test sees the list
  // as it grows.
  for (const Text& o : old) {
    if (!HasCookieNamed(list, CookieName(o))) list.push_back(o);
  }

  Text merged;
  for (const Text& p : list) {
    if (Right(p, 8) != Text("=deleted")) merged += p + "; ";
  }
  merged = Left(merged, merged.Length() - 2);
  cookies = JoinDistinct(merged, "; ");
  return cookies;
}

Text CookieName(const Text& piece) {
  const int c = Find(piece, "=");
  if (c == -1) return Trim(piece);
  return Trim(Left(piece, c - 1));
}

bool HasCookieNamed(const std::vector<Text>& pieces, const Text& name) {
  for (const Text& piece : pieces) {
    if (CookieName(piece) == name) return true;
  }
  return false;
}

Text JoinDistinct(const Text& text, const Text& separator) {
  std::vector<Text> kept;
  Text out;
  for (const Text& piece : Split(text, separator)) {
    if (IndexOfText(kept, piece) == -1) {
      kept.push_back(piece);
      out += piece + separator;
    }
  }
  return Left(out, out.Length() - separator.Length());
}

int IndexOfText(const std::vector<Text>& pieces, const Text& text) {
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    if (pieces[i] == text) return static_cast<int>(i) + 1;
  }
  return -1;
}

}  // namespace telvoro
