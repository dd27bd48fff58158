// telvoro-resolve ADDRESS: the player address of a video page, for scripts.
// Exit 0 with the address and a line feed on standard output; 1 with no
// output when the page gives none; 2 on wrong arguments.

#include <cstdio>
#include <string>

#include "resolve/resolve.h"
#include "text/text.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: telvoro-resolve ADDRESS\n", stderr);
    return 2;
  }
  const telvoro::Text player = telvoro::ResolvePlayerAddress(telvoro::Text::FromUtf8(argv[1]));
  if (player.empty()) return 1;
  std::string line = player.ToUtf8();
  line += '\n';
  if (std::fwrite(line.data(), 1, line.size(), stdout) != line.size() || std::fflush(stdout) != 0) return 1;
  return 0;
}
