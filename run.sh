#!/usr/bin/env bash
# Builds and runs the resource server.
#   ./run.sh          serves a generated demo client installation from ./demo (written when missing)
#   ./run.sh FOLDER   serves an operator's own folder (Config.ini and the list files live there)
#   With a display (DISPLAY or WAYLAND_DISPLAY set) the operator console runs it in a window;
#   without one, the headless program does.
set -euo pipefail
if [ $# -gt 1 ]; then
  echo "usage: $0 [FOLDER]" >&2
  exit 2
fi
caller=$(pwd)
cd "$(dirname "$0")"
top=$(pwd)
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j "$(nproc)"

if [ $# -eq 0 ]; then
  folder="$top/demo"
  [ -f "$folder/Config.ini" ] || "$top/build/NuvoDemoData" "$folder" 8800
else
  case "$1" in
    /*) folder="$1" ;;
    *) folder="$caller/$1" ;;
  esac
fi
if [ ! -d "$folder" ]; then
  echo "no such folder: $folder" >&2
  exit 2
fi
folder=$(cd "$folder" && pwd)
port=$(tr -d '\r' < "$folder/Config.ini" 2>/dev/null |
       sed -n 's/^[[:space:]]*[Pp][Oo][Rr][Tt][[:space:]]*=[[:space:]]*//p' | head -n 1 || true)
url="http://127.0.0.1:${port:-8800}/wclientdat/"
client="$top/build/NuvoClient"

# With a display, the operator console serves the folder in its window instead of the headless program.
program="$top/build/NuvoClientDaemon"
controls="Ctrl+C stops; SIGHUP reloads, SIGUSR1 restarts the service"
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x "$top/build/NuvoClientServer" ]; then
  program="$top/build/NuvoClientServer"
  controls="the window's menu stops, starts and reloads; closing it ends the server"
fi

echo "Serving $folder at $url ($controls)."
echo "In another terminal:"
if [ $# -eq 0 ]; then
  echo "  $client get $url 418K7_p2593 1 data hum.wzl 12        # image 12 of Data/Hum.wzl"
  echo "  $client get $url 418K7_p2593 1 data items.jpk Header  # header of a JPK library"
  echo "  $client get $url 418K7_p2593 3 'map\\mir' 0.map -o 0.map --inflate"
fi
echo "  $client indexes $url"
echo "  $client check $folder $url"
echo

cd "$folder"
exec "$program"
