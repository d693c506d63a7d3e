#!/usr/bin/env bash
# Installs what is missing, checks that the tree follows its .clang-format
# and that no function of engine/ or instrument/ is too complex to follow,
# builds, and runs every test: the release build;
# the release build again with clang, warnings as errors, with the engine's,
# the renderer's and the plugin's tests; the tests again under
# AddressSanitizer + UndefinedBehaviorSanitizer (those that need no desktop)
# and under ThreadSanitizer (the desktop's too; the README names the few left
# out); then the patch reader and the MIDI-file path of the renderer under
# libFuzzer for a bounded time each.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh --tests

# A JACK metadata store that a killed program left half made (an empty
# region file) kills every JACK program with SIGBUS. With no JACK server
# running nothing uses it, and JACK makes it again.
store=/dev/shm/jack_db-$(id -u)
if [ -d "$store" ] && ! pgrep -x jackd >/dev/null && ! pgrep -x jackdbus >/dev/null &&
  find "$store" -maxdepth 1 -name '__db.*' -empty | grep -q .; then
  echo "== removing a broken JACK metadata store ($store)"
  rm -rf "$store"
fi

echo "== formatting (clang-format, .clang-format)"
# The tree follows its .clang-format; a file that does not fails the run here,
# before anything is built.
git ls-files -z -- '*.cpp' '*.h' '*.cpp.in' | xargs -0 clang-format --dry-run --Werror

echo "== complexity (pmccabe: no function of engine/ or instrument/ above 20)"
# Both of pmccabe's counts: the modified one (a switch counts once) and the
# traditional one (each case counts).
complex=$(pmccabe engine/*.h engine/*.cpp instrument/*.h instrument/*.cpp |
  awk '$1 > 20 || $2 > 20')
if [ -n "$complex" ]; then
  echo "$complex"
  exit 1
fi

jobs=$(nproc)
build() {  # build DIR [cmake args...] [--target T...]
  local dir=$1 targets=()
  shift
  local args=()
  while [ $# -gt 0 ]; do
    if [ "$1" = --target ]; then
      shift
      targets+=("$@")
      break
    fi
    args+=("$1")
    shift
  done
  cmake -S . -B "$dir" -G Ninja "${args[@]}" >/dev/null
  if [ ${#targets[@]} -gt 0 ]; then
    cmake --build "$dir" -j "$jobs" --target "${targets[@]}"
  else
    cmake --build "$dir" -j "$jobs"
  fi
}

echo "== release build"
build build/release -DCMAKE_BUILD_TYPE=Release -DONDELITH_TESTS=ON -DONDELITH_BENCHMARKS=ON
(cd build/release && ctest --output-on-failure -j "$jobs")

echo "== release build with clang"
build build/clang -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_CXX_FLAGS=-Werror
(cd build/clang && ctest --output-on-failure -R '^(engine_avx2_clone|documents_name_the_version)$' &&
  tests/engine_tests --gtest_brief=1 && tests/render_tool_tests --gtest_brief=1 &&
  plugin/tests/plugin_tests --gtest_brief=1)

echo "== AddressSanitizer + UndefinedBehaviorSanitizer"
build build/asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DONDELITH_SANITIZER=address
(cd build/asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --output-on-failure -j "$jobs")

echo "== ThreadSanitizer"
build build/tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DONDELITH_SANITIZER=thread
# Recent kernels randomise mappings more than this TSan runtime expects.
(cd build/tsan && TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
  setarch "$(uname -m)" -R ctest --output-on-failure -j "$jobs")

echo "== fuzzing (${FUZZ_SECONDS:=30} s each)"
build build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DONDELITH_SANITIZER=fuzz --target patch_fuzzer midi_fuzzer sound_fuzzer scale_fuzzer \
  keyboard_map_fuzzer
fuzz_dir=$(mktemp -d)
trap 'rm -rf "$fuzz_dir"' EXIT
for target in patch midi sound scale keyboard_map; do
  # New inputs go to a scratch folder; the seeds in the repository stay as they are.
  mkdir -p "$fuzz_dir/$target"
  ASAN_OPTIONS=detect_leaks=1 "build/fuzz/fuzz/${target}_fuzzer" -max_total_time="$FUZZ_SECONDS" \
    -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 "$fuzz_dir/$target" "fuzz/corpus/$target" \
    2>"$fuzz_dir/$target.log" || { tail -n 40 "$fuzz_dir/$target.log"; exit 1; }
  grep -E '^stat::number_of_executed_units|^Done' "$fuzz_dir/$target.log" | sed "s/^/$target: /"
done

echo "== all tests passed"
