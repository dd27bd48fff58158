#pragma once
// Ruffle, the Flash player of the browser controls: where its files are, how
// they are served to the web process, and the pages and scripts that start it.
// Nothing here touches GTK or WebKit, so the rules can be tested on their own.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace telvoro::shell::ruffle {

// Ruffle's files reach the web process only through this scheme, served by the
// UI process from the Ruffle directory: telvoro-ruffle://ruffle/ruffle.js.
inline constexpr const char* kScheme = "telvoro-ruffle";
inline constexpr const char* kBaseAddress = "telvoro-ruffle://ruffle/";

// The directories that may hold Ruffle (the npm package's files, ruffle.js at
// the top), most likely first. TELVORO_RUFFLE_DIR, when set, is the only one.
// From an executable inside the build tree the source tree's node_modules comes
// first; otherwise the install prefix next to the executable, then the
// configured prefix, then the source tree.
std::vector<std::string> SearchPath();
// The first directory of the search path that holds ruffle.js.
std::optional<std::string> FindDirectory(const std::vector<std::string>& searchPath);

// The file name that an address of our scheme asks for ("ruffle.js",
// "0123abcd.wasm"), or nothing when it names anything but a plain file of the
// Ruffle directory (sub-directories, "..", hidden files, escapes).
std::optional<std::string> RequestedFile(std::string_view address);
// The content type to serve a Ruffle file with; WebAssembly needs its own for
// streaming compilation.
std::string_view ContentType(std::string_view fileName);

// Whether a response shows a Flash movie: its content type is Flash's, or the
// server named no usable type (none at all, or the generic
// application/octet-stream) and the address's path ends in ".swf".
// contentType is the Content-Type header as sent (parameters allowed), or
// nothing when the response had none.
bool IsFlashResponse(const std::optional<std::string>& contentType, std::string_view address);

// The page that plays a Flash movie filling the whole control. It is shown with
// the movie's own address as its address, so the movie is fetched from its own
// origin (the site's cookies go with it) and its query becomes its flashvars, as
// when the plugin opened it.
std::string PlayerPage(std::string_view movieAddress);

// The script put into every frame at document start: Ruffle's settings, then
// Ruffle itself (the source of ruffle.js), which replaces <embed> and <object>
// Flash content and offers the player to PlayerPage.
std::string PolyfillScript(std::string_view ruffleSource);

}  // namespace telvoro::shell::ruffle
