#!/usr/bin/env bash
# Installs the Debian packages the project needs for one purpose, each a superset of the one before:
#   install-deps.sh run       build and run the headless server and the tools
#   install-deps.sh console   ... and the operator console (Qt) with its CJK fonts
#   install-deps.sh test      ... and tests, benchmarks, fuzzing, packaging, screenshots and the
#                             browser test of the console (default)
# Idempotent and quiet: packages already present are not fetched again.
set -euo pipefail

need="${1:-test}"
run=(
  build-essential cmake ninja-build pkg-config
  zlib1g-dev libdeflate-dev libssl-dev libboost-dev libcli11-dev libsystemd-dev
  libjs-chart.js
)
console=(qt6-base-dev qt6-base-dev-tools libgl-dev qt6-translations-l10n fonts-wqy-microhei fonts-noto-cjk)
test=(
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-dev
  xvfb xauth x11-apps imagemagick
  wrk nginx-light curl
  dpkg-dev file logrotate
  chromium chromium-driver python3-selenium
)
case "$need" in
  run) packages=("${run[@]}") ;;
  console) packages=("${run[@]}" "${console[@]}") ;;
  test) packages=("${run[@]}" "${console[@]}" "${test[@]}") ;;
  *) echo "usage: $0 [run|console|test]" >&2; exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
echo "installing: ${missing[*]}"
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
