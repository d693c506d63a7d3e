#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the release build,
# then the engine and threading tests under AddressSanitizer +
# UndefinedBehaviorSanitizer and under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

jobs=$(nproc)
build() {  # build DIR [cmake args...]
  local dir=$1
  shift
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
}

echo "== release build"
build build/release -DCMAKE_BUILD_TYPE=Release
(cd build/release && ctest --output-on-failure -j "$jobs")

echo "== AddressSanitizer + UndefinedBehaviorSanitizer"
build build/asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DONDELITH_SANITIZER=address
(cd build/asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --output-on-failure -j "$jobs")

echo "== ThreadSanitizer"
build build/tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DONDELITH_SANITIZER=thread
# Recent kernels randomise mappings more than this TSan runtime expects.
(cd build/tsan && TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
  setarch "$(uname -m)" -R ctest --output-on-failure -j "$jobs")

echo "== all tests passed"
