#!/usr/bin/env bash
# Benchmark (not a test): telvoro against the least a GTK 3 program with one
# WebKitGTK view can be (startup_reference.c), in the same run, on a private
# desktop (tests/desktop/sandbox.sh) with every address served from loopback.
#
#   bash bench/startup.sh BUILD_DIR [--runs N] [--html]
#
# BUILD_DIR is a build configured with cmake/loopback.cmake, telvoro built.
# Reports the time from start to the main window mapped and the PSS of the
# whole process tree with the tutorial video's player address loaded, each with
# its ratio to the reference. The tutorial address serves a small Flash movie,
# or with --html a plain page (the shell alone, without the Flash player).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
build=$(cd "${1:?usage: startup.sh BUILD_DIR [--runs N] [--html]}" && pwd)
shift
runs=10 html=0
while (($#)); do
  case $1 in
    --runs) runs=$2; shift 2 ;;
    --html) html=1; shift ;;
    *) echo "unknown argument $1" >&2; exit 2 ;;
  esac
done

telvoro=$build/shell/telvoro
[[ -x $telvoro ]] || { echo "build telvoro first: cmake --build $build --target telvoro" >&2; exit 1; }
config=$build/generated/telvoro/config.h
grep -q '"127.0.0.1:47801"' "$config" || { echo "$build is no loopback build (cmake -C cmake/loopback.cmake)" >&2; exit 1; }
video_id=$(sed -n 's/.*kTutorialVideoId = "\(.*\)";/\1/p' "$config")

out=$build/bench-startup
mkdir -p "$out"
cc -O2 -o "$out/startup_reference" "$here/startup_reference.c" $(pkg-config --cflags --libs gtk+-3.0 webkit2gtk-4.1)
cc -O2 -o "$out/startup_maptime" "$here/startup_maptime.c" $(pkg-config --cflags --libs x11)
swf=()
if ((!html)); then
  python3 "$root/tests/ruffle/make_swf.py" --colour 204060 "$out/tutorial.swf"
  swf=(--swf "$out/tutorial.swf")
fi

exec "$root/tests/desktop/sandbox.sh" --online -- python3 "$here/startup.py" \
  --telvoro "$telvoro" --reference "$out/startup_reference" --maptime "$out/startup_maptime" \
  --tutorial-path "/player.php/sid/$video_id/v.swf" --runs "$runs" --log "$out/programs.log" "${swf[@]}"
