#!/usr/bin/env bash
# Takes the README's pictures of the operator console from the real program: builds it, writes a
# demo installation (with one JPK entry whose password is wrong and one whose file is missing, so
# the file rules dialog shows its failure cells), runs the console in that folder under Xvfb through
# the test-only program NuvoClientScreenshots, which photographs the main window after loading and
# the file rules dialog; then the console in a browser, from its browser test.
#   scripts/screenshots.sh [OUTPUT_DIR]      (default docs/screenshots)
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
out="${1:-$top/docs/screenshots}"
mkdir -p "$out"
out=$(cd "$out" && pwd)

bash scripts/install-deps.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j 2 --target NuvoClientScreenshots NuvoDemoData NuvoClient NuvoClientDaemon

# A port nothing answers on.
port=18800
while (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; do port=$((port + 1)); done

work=$(mktemp -d -t nuvo-XXXXXX)
trap 'rm -rf "$work"' EXIT
"$top/build/NuvoDemoData" "$work/demo" "$port" >/dev/null
jpk=$(grep -m1 -i '\.jpk|' "$work/demo/JpkList.txt" | cut -d'|' -f1)
printf '%s|%s\r\n' "$(dirname "$jpk")/missing.jpk" "418K7_p2593" >> "$work/demo/JpkList.txt"
cp "$jpk" "$(dirname "$jpk")/locked.jpk"
printf '%s|%s\r\n' "$(dirname "$jpk")/locked.jpk" "not-the-password" >> "$work/demo/JpkList.txt"

rm -f "$out/main.png" "$out/filerules.png"
cd "$work/demo"
QT_QPA_PLATFORM=xcb timeout 120 \
  xvfb-run -a -s "-screen 0 1280x800x24" "$top/build/NuvoClientScreenshots" "$out" &
program=$!
# Clients at work while the program waits to take its pictures, for the traffic line.
url="http://127.0.0.1:$port/wclientdat/"
for _ in $(seq 300); do "$top/build/NuvoClient" indexes "$url" >/dev/null 2>&1 && break; sleep 0.1; done
while kill -0 "$program" 2>/dev/null; do "$top/build/NuvoClient" check "$work/demo" "$url" >/dev/null 2>&1 || true; done
wait "$program"

# The console in a browser, from its browser test.
rm -f "$out/browser.png"
/usr/bin/python3 "$top/tests/browser/console_browser.py" "$top/build" "$out"
ls -l "$out/main.png" "$out/filerules.png" "$out/browser.png"
