#!/usr/bin/env bash
# Set up, build and run every test: the unit and desktop tests of a build whose
# fixed addresses point at loopback, then the unit tests again under
# AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
jobs=$(nproc)

cmake -S . -B build-test -DCMAKE_BUILD_TYPE=RelWithDebInfo -C cmake/loopback.cmake >/dev/null
cmake --build build-test -j"$jobs"
ctest --test-dir build-test --output-on-failure -j"$jobs"

cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DTELVORO_SANITIZE=ON -DTELVORO_UNIT_ONLY=ON -C cmake/loopback.cmake >/dev/null
cmake --build build-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --test-dir build-asan --output-on-failure -j"$jobs" -L unit
