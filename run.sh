#!/usr/bin/env bash
# Builds and runs the resource server; see ./run.sh --help.
set -euo pipefail

usage() {
  cat <<'EOF'
usage: ./run.sh [FOLDER]
  Installs what running needs (Debian packages), builds the server and the tools, and serves:
    ./run.sh          a generated demo client installation in ./demo (written when missing)
    ./run.sh FOLDER   an operator's own folder: Config.ini, the four list files and Logs/ live there
  With a display (DISPLAY or WAYLAND_DISPLAY set) the operator console serves in its window; without
  one, the headless program NuvoClientDaemon does, printing its log here. Once the service answers,
  run.sh prints the address the server gave and how to ask it with the client tool.
  Ctrl+C stops the headless program; kill -HUP PID reloads the resources, kill -USR1 PID restarts
  the service (PID is printed with the address).
EOF
}
case "${1:-}" in
  -h|--help) usage; exit 0 ;;
  -*) echo "unknown option: $1" >&2; usage >&2; exit 2 ;;
esac
if [ $# -gt 1 ]; then
  usage >&2
  exit 2
fi
caller=$(pwd)
cd "$(dirname "$0")"
top=$(pwd)

# With a display, the operator console serves the folder in its window instead of the headless program.
console=no
[ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && console=yes
if [ "$console" = yes ]; then bash scripts/install-deps.sh console; else bash scripts/install-deps.sh run; fi
cmake -S . -B build -G Ninja >/dev/null
targets=(NuvoClientDaemon NuvoClient NuvoDemoData)
[ "$console" = yes ] && ninja -C build -t targets all | grep -q '^NuvoClientServer:' && targets+=(NuvoClientServer)
cmake --build build -j "$(nproc)" --target "${targets[@]}"

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
if [ ! -f "$folder/Config.ini" ]; then
  echo "$folder has no Config.ini: serving it with the defaults (port 8800, resources named in its list files)."
  echo "To try the server on a demo installation there instead: $top/build/NuvoDemoData $folder"
fi
client="$top/build/NuvoClient"

# The client tool's commands for the address the server announced.
hints() {
  local url="$1"
  echo "In another terminal:"
  if [ "$folder" = "$top/demo" ]; then
    echo "  $client get $url 418K7_p2593 1 data hum.wzl 12        # image 12 of Data/Hum.wzl"
    echo "  $client get $url 418K7_p2593 1 data items.jpk Header  # header of a JPK library"
    echo "  $client get $url 418K7_p2593 3 'map\\mir' 0.map -o 0.map --inflate"
  fi
  echo "  $client indexes $url"
  echo "  $client check $folder $url"
  echo
}

cd "$folder"
if [ "$console" = yes ] && [ -x "$top/build/NuvoClientServer" ]; then
  # The console shows its log, and the address it serves at, in its window.
  port=$(tr -d '\r' < Config.ini 2>/dev/null |
         sed -n 's/^[[:space:]]*[Pp][Oo][Rr][Tt][[:space:]]*=[[:space:]]*//p' | head -n 1 || true)
  echo "Serving $folder with the operator console; its log shows the address (微端部署地址)."
  echo "The window's menu stops, starts and reloads; closing it ends the server."
  hints "http://127.0.0.1:${port:-8800}/wclientdat/"
  exec "$top/build/NuvoClientServer"
fi

# The headless program takes over this process (same PID, so signals reach it); its output passes
# through a reader that adds the hints when the server first announces its address. The reader ignores
# Ctrl+C so that it prints the server's last lines.
pid=$$
exec "$top/build/NuvoClientDaemon" > >(
  trap '' INT
  announced=no
  while IFS= read -r line; do
    printf '%s\n' "$line"
    case "$announced$line" in
      no*"微端部署地址: "*)
        announced=yes
        url="${line#*微端部署地址: }"
        echo
        echo "Serving $folder at $url (Ctrl+C stops; kill -HUP $pid reloads, kill -USR1 $pid restarts the service)."
        hints "$url"
        ;;
    esac
  done
) 2>&1
