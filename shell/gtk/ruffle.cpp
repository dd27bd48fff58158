#include "shell/gtk/ruffle.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include <telvoro/config.h>

namespace telvoro::shell::ruffle {

namespace {

namespace fs = std::filesystem;

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string LowerAscii(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(), [](char c) { return LowerAscii(c); });
  return out;
}

bool EndsWith(std::string_view s, std::string_view end) {
  return s.size() >= end.size() && s.substr(s.size() - end.size()) == end;
}

std::string_view TrimBlanks(std::string_view s) {
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

// The path of an absolute address: after "scheme://authority", before "?" or "#".
std::string_view AddressPath(std::string_view address) {
  address = address.substr(0, address.find_first_of("?#"));
  const auto scheme = address.find("://");
  if (scheme == std::string_view::npos) return address;
  const auto path = address.find('/', scheme + 3);
  return path == std::string_view::npos ? std::string_view() : address.substr(path);
}

bool IsInside(const fs::path& file, const fs::path& directory) {
  std::error_code error;
  const fs::path a = fs::weakly_canonical(file, error);
  if (error) return false;
  const fs::path b = fs::weakly_canonical(directory, error);
  if (error) return false;
  return std::mismatch(b.begin(), b.end(), a.begin(), a.end()).first == b.end();
}

// A JavaScript string literal that may stand inside an HTML <script>.
std::string ScriptString(std::string_view s) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out = "\"";
  for (const char c : s) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || c == '"' || c == '\\' || c == '<' || c == '>' || c == '&' || c == '\'') {
      out += "\\u00";
      out += kHex[u >> 4];
      out += kHex[u & 15];
    } else {
      out += c;  // UTF-8 passes through; U+2028/2029 are fine in string literals since ES2019
    }
  }
  return out + "\"";
}

}  // namespace

std::vector<std::string> SearchPath() {
  if (const char* dir = std::getenv("TELVORO_RUFFLE_DIR"); dir && *dir) return {dir};

  const fs::path sourceTree = fs::path(config::kSourceDir) / "node_modules" / "@ruffle-rs" / "ruffle";
  const fs::path prefix = fs::path(config::kInstallDataDir) / "ruffle";
  std::error_code error;
  const fs::path exe = fs::read_symlink("/proc/self/exe", error);
  if (error) return {prefix.string(), sourceTree.string()};
  if (IsInside(exe, config::kBinaryDir)) return {sourceTree.string(), prefix.string()};

  // bin/telvoro next to share/telvoro/ruffle, wherever the tree was installed.
  const fs::path nextToExe = exe.parent_path().parent_path() / "share" / "telvoro" / "ruffle";
  std::vector<std::string> path{nextToExe.lexically_normal().string()};
  if (prefix.lexically_normal() != nextToExe.lexically_normal()) path.push_back(prefix.string());
  path.push_back(sourceTree.string());
  return path;
}

std::optional<std::string> FindDirectory(const std::vector<std::string>& searchPath) {
  for (const std::string& dir : searchPath) {
    std::error_code error;
    if (fs::is_regular_file(fs::path(dir) / "ruffle.js", error)) return dir;
  }
  return std::nullopt;
}

std::optional<std::string> RequestedFile(std::string_view address) {
  const std::string_view base = kBaseAddress;
  if (address.substr(0, base.size()) != base) return std::nullopt;
  std::string_view name = address.substr(base.size());
  name = name.substr(0, name.find_first_of("?#"));
  if (name.empty() || name.front() == '.') return std::nullopt;
  const bool plain = std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
           c == '-';
  });
  if (!plain) return std::nullopt;
  return std::string(name);
}

std::string_view ContentType(std::string_view fileName) {
  const std::string name = LowerAscii(fileName);
  if (EndsWith(name, ".js") || EndsWith(name, ".mjs")) return "text/javascript";
  if (EndsWith(name, ".wasm")) return "application/wasm";
  if (EndsWith(name, ".json") || EndsWith(name, ".map")) return "application/json";
  if (EndsWith(name, ".html")) return "text/html";
  if (EndsWith(name, ".css")) return "text/css";
  if (EndsWith(name, ".md") || name.starts_with("license")) return "text/plain";
  return "application/octet-stream";
}

bool IsFlashResponse(const std::optional<std::string>& contentType, std::string_view address) {
  std::string type;
  if (contentType) {
    std::string_view t = *contentType;
    t = TrimBlanks(t.substr(0, t.find(';')));
    type = LowerAscii(t);
  }
  if (type == "application/x-shockwave-flash" || type == "application/futuresplash") return true;
  if (!type.empty() && type != "application/octet-stream") return false;
  return EndsWith(LowerAscii(AddressPath(address)), ".swf");
}

std::string PlayerPage(std::string_view movieAddress) {
  // PolyfillScript has run before this page's own script, so Ruffle is there.
  // The player is made through Ruffle's API rather than from an <embed>: a
  // polyfilled element falls back to itself when the answer is not a movie,
  // where this one shows Ruffle's panel saying so.
  std::string page =
      "<!DOCTYPE html>\n"
      "<html><head><meta charset=\"utf-8\">\n"
      "<style>html,body{margin:0;width:100%;height:100%;overflow:hidden;background:#000}"
      "#player{display:block;position:fixed;left:0;top:0;width:100%;height:100%}</style>\n"
      "</head><body><script>\n"
      "(function () {\n"
      "  var ruffle = window.RufflePlayer && window.RufflePlayer.newest && window.RufflePlayer.newest();\n"
      "  if (!ruffle) return;\n"
      "  var player = ruffle.createPlayer();\n"
      "  player.id = \"player\";\n"
      "  document.body.appendChild(player);\n"
      "  player.ruffle().load({url: ";
  page += ScriptString(movieAddress);
  page +=
      "});\n"
      "})();\n"
      "</script></body></html>\n";
  return page;
}

std::string PolyfillScript(std::string_view ruffleSource) {
  std::string script = R"js((function () {
  "use strict";
  // Flash as the plugin showed it: playing at once, sound on, no Ruffle splash.
  var ruffle = window.RufflePlayer = window.RufflePlayer || {};
  ruffle.config = {
    publicPath: ")js";
  script += kBaseAddress;
  script += R"js(",
    autoplay: "on",
    unmuteOverlay: "hidden",
    splashScreen: false,
    letterbox: "off",
    warnOnUnsupportedContent: false,
    showSwfDownload: false,
    // Ruffle's own WebGL renderer first: on software GL (Mesa llvmpipe) it shows
    // the first frame about two seconds sooner than the wgpu one Ruffle would
    // pick, in less memory; canvas remains the fallback without WebGL.
    preferredRenderer: "webgl"
  };
})();
)js";
  // Ruffle itself, run before any script of the page, as its browser extension
  // does: pages that look for a Flash plugin before writing their <embed> find one.
  script += ruffleSource;
  return script;
}

}  // namespace telvoro::shell::ruffle
