// The rules behind Flash in the browser controls: which answers are Flash, which
// files our scheme serves and how, where Ruffle is looked for, and the player page.

#include "shell/gtk/ruffle.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include <telvoro/config.h>

namespace telvoro::shell::ruffle {
namespace {

namespace fs = std::filesystem;

TEST(IsFlashResponse, ByContentTypeOrByAnSwfPathWhenTheServerNamesNoType) {
  struct Case {
    std::optional<std::string> contentType;
    const char* address;
    bool flash;
  };
  const Case cases[] = {
      {"application/x-shockwave-flash", "http://h/player.php/sid/X/v.swf", true},
      {"application/x-shockwave-flash", "http://h/loader?id=1", true},  // the type decides, not the path
      {"Application/X-Shockwave-Flash; charset=binary", "http://h/p", true},
      {" application/x-shockwave-flash ", "http://h/p", true},
      {"application/futuresplash", "http://h/p.spl", true},
      {std::nullopt, "http://h/v.swf", true},
      {std::nullopt, "http://h/swfPlayer.SWF?vid=1&autoplay=1", true},
      {std::nullopt, "https://h/a/b/v.swf#start", true},
      {"", "http://h/v.swf", true},  // an empty header names no type either
      {"application/octet-stream", "http://h/v.swf", true},
      {"application/octet-stream", "http://h/v.bin", false},
      {"text/html", "http://h/v.swf", false},  // an error page at a movie's address is a page
      {"text/html; charset=utf-8", "http://h/v.swf", false},
      {"text/plain", "http://h/v.swf", false},
      {std::nullopt, "http://h/page.html", false},
      {std::nullopt, "http://h/page?file=v.swf", false},  // the query is not the path
      {std::nullopt, "http://h/page#v.swf", false},
      {std::nullopt, "http://v.swf", false},  // a host is not a path
      {std::nullopt, "http://v.swf/", false},
      {std::nullopt, "http://h/v.swf/", false},
      {std::nullopt, "http://h/v.swfx", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsFlashResponse(c.contentType, c.address), c.flash)
        << (c.contentType ? *c.contentType : "(no type)") << " " << c.address;
  }
}

TEST(RequestedFile, OnlyPlainFilesOfTheRuffleDirectory) {
  const std::string base = kBaseAddress;
  EXPECT_EQ(RequestedFile(base + "ruffle.js"), "ruffle.js");
  EXPECT_EQ(RequestedFile(base + "core.ruffle.c80159b526e567babaf5.js?v=1"), "core.ruffle.c80159b526e567babaf5.js");
  EXPECT_EQ(RequestedFile(base + "72a20ef1c0b8ceb37720.wasm#x"), "72a20ef1c0b8ceb37720.wasm");
  EXPECT_EQ(RequestedFile(base + "LICENSE_MIT"), "LICENSE_MIT");
  for (const std::string& bad : {
           base,
           base + "..",
           base + "../ruffle.js",
           base + "..%2fetc%2fpasswd",
           base + "%2e%2e/x",
           base + ".hidden",
           base + "sub/ruffle.js",
           base + "/etc/passwd",
           base + "a\\b.js",
           base + "?ruffle.js",
           std::string("telvoro-ruffle://other/ruffle.js"),
           std::string("telvoro-ruffle:ruffle.js"),
           std::string("http://ruffle/ruffle.js"),
           std::string(),
       }) {
    EXPECT_EQ(RequestedFile(bad), std::nullopt) << bad;
  }
}

TEST(ContentType, WebAssemblyAndScriptsGetTheirOwn) {
  EXPECT_EQ(ContentType("ruffle.js"), "text/javascript");
  EXPECT_EQ(ContentType("core.ruffle.0123.js"), "text/javascript");
  EXPECT_EQ(ContentType("72a20ef1c0b8ceb37720.wasm"), "application/wasm");
  EXPECT_EQ(ContentType("X.WASM"), "application/wasm");
  EXPECT_EQ(ContentType("ruffle.js.map"), "application/json");
  EXPECT_EQ(ContentType("package.json"), "application/json");
  EXPECT_EQ(ContentType("LICENSE_MIT"), "text/plain");
  EXPECT_EQ(ContentType("something.bin"), "application/octet-stream");
}

class SearchPathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* dir = std::getenv("TELVORO_RUFFLE_DIR")) saved_ = dir;
    unsetenv("TELVORO_RUFFLE_DIR");
    root_ = fs::temp_directory_path() / ("ruffle_test." + std::to_string(::getpid()));
    fs::create_directories(root_);
  }
  void TearDown() override {
    if (saved_) {
      setenv("TELVORO_RUFFLE_DIR", saved_->c_str(), 1);
    } else {
      unsetenv("TELVORO_RUFFLE_DIR");
    }
    fs::remove_all(root_);
  }
  std::string Dir(const std::string& name, bool withRuffle) {
    const fs::path dir = root_ / name;
    fs::create_directories(dir);
    if (withRuffle) std::ofstream(dir / "ruffle.js") << "// ruffle\n";
    return dir.string();
  }

  std::optional<std::string> saved_;
  fs::path root_;
};

TEST_F(SearchPathTest, FromTheBuildTreeTheSourceTreeComesFirstThenThePrefix) {
  const auto path = SearchPath();
  ASSERT_EQ(path.size(), 2u);
  EXPECT_EQ(path[0], (fs::path(config::kSourceDir) / "node_modules/@ruffle-rs/ruffle").string());
  EXPECT_EQ(path[1], (fs::path(config::kInstallDataDir) / "ruffle").string());
}

TEST_F(SearchPathTest, TheEnvironmentNamesTheOnlyPlace) {
  setenv("TELVORO_RUFFLE_DIR", "/somewhere/ruffle", 1);
  EXPECT_EQ(SearchPath(), std::vector<std::string>{"/somewhere/ruffle"});
  setenv("TELVORO_RUFFLE_DIR", "", 1);  // set but empty: as if unset
  EXPECT_EQ(SearchPath().size(), 2u);
}

TEST_F(SearchPathTest, FindDirectoryTakesTheFirstThatHoldsRuffle) {
  const std::string empty = Dir("empty", false), a = Dir("a", true), b = Dir("b", true);
  const std::string missing = (root_ / "missing").string();
  EXPECT_EQ(FindDirectory({missing, empty, a, b}), a);
  EXPECT_EQ(FindDirectory({b, a}), b);
  EXPECT_EQ(FindDirectory({missing, empty}), std::nullopt);
  EXPECT_EQ(FindDirectory({}), std::nullopt);
  // A directory called ruffle.js is no Ruffle.
  fs::create_directories(root_ / "odd" / "ruffle.js");
  EXPECT_EQ(FindDirectory({(root_ / "odd").string()}), std::nullopt);
}

TEST(PlayerPage, TheAddressStaysInsideItsScriptString) {
  const std::string page = PlayerPage("http://h/v.swf?a=1&b=\"x\"</script><script>alert(1)</script>'\\");
  EXPECT_EQ(page.find("</script><script>alert"), std::string::npos);
  EXPECT_EQ(page.find("\"x\""), std::string::npos);
  EXPECT_NE(page.find(R"(load({url: "http://h/v.swf?a=1\u0026b=\u0022x\u0022\u003c/script\u003e)"), std::string::npos)
      << page;
  EXPECT_EQ(page.find("'\\"), std::string::npos);
  // Exactly one script element, closed once.
  EXPECT_EQ(page.find("</script>"), page.rfind("</script>"));
}

TEST(PlayerPage, UnicodeAndControlCharactersAreCarried) {
  const std::string page = PlayerPage("http://h/v.swf?t=\xe4\xb8\xad\n");
  EXPECT_NE(page.find("t=\xe4\xb8\xad\\u000a\"})"), std::string::npos) << page;
}

TEST(PolyfillScript, SettingsComeBeforeRuffleItself) {
  const std::string script = PolyfillScript("/*RUFFLE*/");
  const auto settings = script.find("ruffle.config");
  const auto source = script.find("/*RUFFLE*/");
  ASSERT_NE(settings, std::string::npos);
  ASSERT_NE(source, std::string::npos);
  EXPECT_LT(settings, source);
  for (const char* setting : {R"(autoplay: "on")", R"(unmuteOverlay: "hidden")", "splashScreen: false",
                              R"(publicPath: "telvoro-ruffle://ruffle/")"}) {
    EXPECT_NE(script.find(setting), std::string::npos) << setting;
  }
}

}  // namespace
}  // namespace telvoro::shell::ruffle
