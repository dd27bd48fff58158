#include "shell/gtk/data_files.h"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <vector>

#include <telvoro/config.h>

namespace telvoro::shell {
namespace fs = std::filesystem;

std::string FindDataFile(const std::string& name) {
  std::error_code error;
  const fs::path exe = fs::read_symlink("/proc/self/exe", error);
  const fs::path build = fs::weakly_canonical(config::kBinaryDir, error);
  const fs::path sourceAssets = fs::path(config::kSourceDir) / "shell" / "assets";
  const fs::path installed = config::kInstallDataDir;

  std::vector<fs::path> places;
  auto [end, at] = std::mismatch(build.begin(), build.end(), exe.begin(), exe.end());
  const bool inBuildTree = !exe.empty() && !build.empty() && end == build.end();
  if (inBuildTree) {
    places = {sourceAssets, installed};
  } else {
    // A relocated installation first: <prefix>/bin/telvoro next to <prefix>/share/telvoro.
    if (!exe.empty()) places.push_back(exe.parent_path().parent_path() / "share" / "telvoro");
    places.push_back(installed);
    places.push_back(sourceAssets);
  }
  for (const fs::path& dir : places) {
    const fs::path file = dir / name;
    if (fs::is_regular_file(file, error)) return file.string();
  }
  return {};
}

}  // namespace telvoro::shell
