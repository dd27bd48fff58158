#!/usr/bin/env bash
# Set up, build and start the player.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTELVORO_TESTS=OFF >/dev/null
cmake --build build -j"$(nproc)"
exec ./build/shell/telvoro "$@"
