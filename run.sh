#!/usr/bin/env bash
# Builds and runs the resource server.
#   ./run.sh          serves a generated demo client installation from ./demo
#   ./run.sh FOLDER   serves an operator's own folder (Config.ini and the list files live there)
set -euo pipefail
cd "$(dirname "$0")"
top=$(pwd)
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j "$(nproc)"

if [ ! -x build/NuvoClientDaemon ]; then
  echo "The headless server (NuvoClientDaemon) is not built yet: only the core library and its tests exist."
  exit 0
fi
exec "$top/build/NuvoClientDaemon"
