#!/usr/bin/env bash
# ./test.sh windows: installs the cross compiler and Wine, builds the Windows programs and tests in
# build-windows/ and runs the tests under Wine. The end-to-end tests (tests/windows) are a Linux
# program that drives the Windows server with the Linux client code and tool, built in build/
# (only those two programs).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh windows
bash scripts/check-layers.sh

jobs=$(nproc)
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B build -G Ninja "${launcher[@]}" >/dev/null
cmake --build build -j "$jobs" --target NuvoClient windows_tests
cmake -S . -B build-windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake "${launcher[@]}" \
  -DNUVO_LINUX_BUILD="$PWD/build" >/dev/null
cmake --build build-windows -j "$jobs"

export WINEPREFIX="${WINEPREFIX:-$PWD/build-windows/wineprefix}" WINEDEBUG=-all
# One Wine server for the whole run (made on first use with the prefix); ended when the run ends.
wineboot --init >/dev/null 2>&1 || true
wineserver -p
trap 'wineserver -k 2>/dev/null || true' EXIT
# Tests of Linux-only semantics stay out (tests/windows/linux_only.txt says why, one by one).
skip=$(grep -v '^#' tests/windows/linux_only.txt | awk 'NF {print $1}' | paste -sd'|')
cd build-windows
ctest --output-on-failure -j "$jobs" --timeout 600 -E "^(${skip//./\\.})\$"
