#!/usr/bin/env bash
# Installs what is missing, builds and runs every test.
#   ./test.sh          plain build in build/
#   ./test.sh asan     AddressSanitizer + UndefinedBehaviorSanitizer in build-asan/
#   ./test.sh tsan     ThreadSanitizer in build-tsan/
#   ./test.sh fuzz     libFuzzer targets (clang) in build-fuzz/, each run for FUZZ_SECONDS (30) on one core
#   ./test.sh fuzz-long [HOURS]
#                      each target HOURS (1) on all cores, new inputs merged into fuzz/corpus/
#   ./test.sh windows  the Windows programs cross-built (MinGW-w64) in build-windows/, their unit
#                      tests and end-to-end tests under Wine (prefix build-windows/wineprefix
#                      unless WINEPREFIX is set)
# Fuzzing keeps what it finds under fuzz/findings/<target>/ with the command that reproduces it.
set -euo pipefail
cd "$(dirname "$0")"
mode="${1:-plain}"

if [ "$mode" = windows ]; then
  exec bash scripts/test-windows.sh
fi
bash scripts/install-deps.sh test
# Includes follow the layers before anything is built.
bash scripts/check-layers.sh

jobs=$(nproc)
case "$mode" in
  plain) dir=build;      flags=() ;;
  asan)  dir=build-asan; flags=(-DNUVO_SANITIZE=address -DCMAKE_BUILD_TYPE=Debug) ;;
  tsan)  dir=build-tsan; flags=(-DNUVO_SANITIZE=thread -DCMAKE_BUILD_TYPE=RelWithDebInfo) ;;
  fuzz|fuzz-long) dir=build-fuzz; flags=(-DNUVO_FUZZ=ON -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++) ;;
  *) echo "usage: $0 [plain|asan|tsan|fuzz|fuzz-long [HOURS]]" >&2; exit 2 ;;
esac

# A compiler cache, when the machine has one, makes rebuilds across build folders cheap.
# Not for fuzz builds: the cache does not see the coverage ignore list and hands back objects
# instrumented by an older one.
if [ "$dir" = build-fuzz ]; then
  flags+=(-DCMAKE_CXX_COMPILER_LAUNCHER= -DCMAKE_C_COMPILER_LAUNCHER=)
elif command -v ccache >/dev/null; then
  flags+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B "$dir" -G Ninja "${flags[@]}" >/dev/null

if [ "$mode" = fuzz ] || [ "$mode" = fuzz-long ]; then
  targets=$(for f in fuzz/*_fuzz.cpp; do basename "$f" .cpp; done)
  cmake --build "$dir" -j "$jobs" --target $targets
  [ "$mode" = fuzz-long ] && exec bash scripts/run-fuzzers.sh --long "$dir" "${2:-1}"
  exec bash scripts/run-fuzzers.sh "$dir" "${FUZZ_SECONDS:-30}"
fi
cmake --build "$dir" -j "$jobs"

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1"
export QT_QPA_PLATFORM=offscreen
cd "$dir"
ctest --output-on-failure -j "$jobs" --timeout 600
