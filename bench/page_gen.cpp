// Writes the benchmark pages: video-site HTML with Chinese text on every line
// (about a quarter of the bytes outside ASCII), and the hostile page.
//
//   telvoro-bench-pages benign SIZE FILE   SIZE bytes, the first site's player
//                                           marker a few lines before the end
//   telvoro-bench-pages hostile SIZE FILE  one line of repeated value="http://x
//                                           and a lone swf" > on a later line

#include <iconv.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// The 3755 characters of the first level of GB2312, in UTF-8: the common
// characters of Chinese text, enough to keep every conversion table busy.
std::vector<std::string> CommonCharacters() {
  std::vector<std::string> chars;
  iconv_t cd = iconv_open("UTF-8", "GB2312");
  if (cd == reinterpret_cast<iconv_t>(-1)) return chars;
  for (int lead = 0xB0; lead <= 0xD7; ++lead) {
    for (int trail = 0xA1; trail <= 0xFE; ++trail) {
      char in[2] = {static_cast<char>(lead), static_cast<char>(trail)};
      char out[8];
      char* ip = in;
      char* op = out;
      std::size_t il = 2, ol = sizeof out;
      if (iconv(cd, &ip, &il, &op, &ol) != static_cast<std::size_t>(-1) && il == 0) {
        chars.emplace_back(out, static_cast<std::size_t>(op - out));
      }
    }
  }
  iconv_close(cd);
  return chars;
}

std::string Benign(std::size_t size) {
  const std::vector<std::string> chars = CommonCharacters();
  if (chars.empty()) return {};
  std::string page =
      "<!DOCTYPE html>\n<html>\n<head><meta charset=\"utf-8\"><title>风景纪录片 第一集—视频—优酷</title></head>\n"
      "<body>\n";
  const std::string marker =
      "<object><param name=\"movie\" value=\"http://player.youku.com/player.php/sid/XMTI5MzM0NjQ0OA/v.swf\" >"
      "</object>\n";
  const std::string tail = "<p>相关视频：风景纪录片 第二集</p>\n</body>\n</html>\n";
  std::uint32_t seed = 12345;
  auto next = [&seed] {
    seed = seed * 1103515245u + 12345u;
    return seed >> 8;
  };
  for (int line = 1; page.size() + marker.size() + tail.size() + 200 < size; ++line) {
    // ~100 ASCII bytes and 11 characters of 3 bytes: a quarter of the bytes.
    std::string text;
    for (int i = 0; i < 11; ++i) text += chars[next() % chars.size()];
    char head[160];
    std::snprintf(head, sizeof head,
                  "<li class=\"item-%d\"><a href=\"http://v.youku.com/v_show/id_X%08u.html\" title=\"", line,
                  static_cast<unsigned>(next()));
    page += head;
    page += text;
    page += "\">";
    page += "</a><span>播放: " + std::to_string(next() % 100000) + "</span></li>\n";
  }
  page += marker;
  page += tail;
  return page;
}

std::string Hostile(std::size_t size) {
  std::string page;
  page.reserve(size);
  const std::string piece = "value=\"http://x";
  while (page.size() + piece.size() + 16 < size) page += piece;
  page += "\nswf\" >\n";
  return page;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fputs("usage: telvoro-bench-pages benign|hostile SIZE FILE\n", stderr);
    return 2;
  }
  const std::size_t size = std::strtoull(argv[2], nullptr, 10);
  const std::string page = std::strcmp(argv[1], "hostile") == 0 ? Hostile(size) : Benign(size);
  if (page.empty()) return 1;
  std::FILE* f = std::fopen(argv[3], "wb");
  if (f == nullptr) return 1;
  const bool ok = std::fwrite(page.data(), 1, page.size(), f) == page.size();
  return std::fclose(f) == 0 && ok ? 0 : 1;
}
