#!/usr/bin/env bash
# Sets everything up, builds and runs the whole test suite twice: once in a normal
# build with warnings as errors, once under AddressSanitizer + UndefinedBehaviorSanitizer;
# then runs every fuzz target for a bounded time (scripts/fuzz.sh, which runs alone too).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/bootstrap.sh

jobs=$(nproc)
export CTEST_OUTPUT_ON_FAILURE=1
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

run_suite() {
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja -DQUARVEL_WERROR=ON "$@"
  cmake --build "$dir" -j "$jobs"
  # Window tests need an X display; GL tests run headless through EGL either way.
  xvfb-run -a -s "-screen 0 1280x1024x24" ctest --test-dir "$dir" -j "$jobs" --timeout 600
}

run_suite build-ci -DCMAKE_BUILD_TYPE=RelWithDebInfo
run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DQUARVEL_SANITIZE=ON -DQUARVEL_BUILD_BENCH=OFF
# Every reader of outside data under libFuzzer for a bounded time (about a minute each).
./scripts/fuzz.sh
echo "All tests passed (normal and sanitizer builds, fuzz targets)."
