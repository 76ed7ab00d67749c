#!/usr/bin/env bash
# Fails, listing the offending lines, when a file under src/ includes a header of a folder that is
# not below its own in the layers:
#   platform -> formats -> settings -> catalogue -> service -> app -> {console, daemon}
# http (the general HTTP front end) sits on platform alone, below service. client sits on service
# and nothing under src/ may include it; no server code includes the fixtures of tests/support.
set -euo pipefail
cd "$(dirname "$0")/.."

# Folders each folder may include, itself among them.
declare -A allowed=(
  [platform]="platform"
  [formats]="platform formats"
  [settings]="platform formats settings"
  [catalogue]="platform formats settings catalogue"
  [http]="platform http"
  [service]="platform http formats settings catalogue service"
  [app]="platform http formats settings catalogue service app"
  [console]="platform http formats settings catalogue service app console"
  [daemon]="platform http formats settings catalogue service app daemon"
  [client]="platform http formats settings catalogue service client"
)

bad=0
for dir in src/*/; do
  folder=$(basename "$dir")
  if [ -z "${allowed[$folder]+x}" ]; then
    echo "src/$folder: a folder the layer check does not know" >&2
    bad=1
    continue
  fi
  while IFS= read -r hit; do
    target=$(sed -E 's/.*#include "([^/"]+)\/.*/\1/' <<<"$hit")
    case " ${allowed[$folder]} " in
      *" $target "*) ;;
      *) echo "$hit" >&2; bad=1 ;;
    esac
  done < <(grep -rnE '^\s*#\s*include\s+"[^/"]+/' "$dir" || true)
done
if [ "$bad" -ne 0 ]; then
  echo "layer check: the includes above point up the layers or across to a sibling" >&2
fi
exit "$bad"
