#!/usr/bin/env bash
# Benchmark (not a test): Flash in the player with Ruffle, on a private desktop
# (tests/desktop/sandbox.sh --online) with every address served from loopback.
#
#   bash bench/ruffle.sh BUILD_DIR [--runs N] [--memory-runs N]
#
# BUILD_DIR is a build configured with cmake/loopback.cmake, telvoro built.
# Reports the time from Enter to a found Flash movie's first frame on screen
# (and to a found HTML page, for comparison), and the PSS of the whole process
# tree with the tutorial address showing a Flash movie against an HTML page.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
build=$(cd "${1:?usage: ruffle.sh BUILD_DIR [--runs N] [--memory-runs N]}" && pwd)
shift

telvoro=$build/shell/telvoro
[[ -x $telvoro ]] || { echo "build telvoro first: cmake --build $build --target telvoro" >&2; exit 1; }
config=$build/generated/telvoro/config.h
grep -q '"127.0.0.1:47801"' "$config" || { echo "$build is no loopback build (cmake -C cmake/loopback.cmake)" >&2; exit 1; }
video_id=$(sed -n 's/.*kTutorialVideoId = "\(.*\)";/\1/p' "$config")
mkdir -p "$build/bench-ruffle"

exec "$root/tests/desktop/sandbox.sh" --online -- python3 "$here/ruffle.py" --telvoro "$telvoro" \
  --tutorial-path "/player.php/sid/$video_id/v.swf" --log "$build/bench-ruffle/programs.log" "$@"
