#!/usr/bin/env bash
# A player beside a greedy client at the default bandwidth cap, on loopback, in one command:
#   bench/fair_share.sh          (HOGS="256 2000" DURATION=15 REQUESTS=400 to change the run)
# Serves the demo installation with one more wav of 2 MB (incompressible, so its body stays 2 MB)
# with NuvoClientDaemon as it starts (cap 100 MB/s). The player, from 127.0.0.2, asks for one image
# entry of about 20 KB again and again on one keep-alive connection (curl, REQUESTS times); the
# hog, from 127.0.0.1, downloads the wav over HOGS connections (wrk). Prints the player's p50 and
# p99 alone and beside each hog, and the hog's transfer rate against the cap.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
source bench/load_common.sh
HOGS="${HOGS:-256 2000}"
DURATION="${DURATION:-15}"
REQUESTS="${REQUESTS:-400}"
build_targets NuvoClientDaemon NuvoDemoData NuvoClient http_bench_server
bin="$top/build"

work=$(mktemp -d)
daemon=""; hog=""
cleanup() {
  for pid in $hog $daemon; do kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

port=$("$bin/http_bench_server" --free-port)
"$bin/NuvoDemoData" "$work/demo" "$port" > /dev/null
head -c $((2 << 20)) /dev/urandom > "$work/demo/client/Wav/Big.wav"
echo "$work/demo/client/Wav/Big.wav" >> "$work/demo/WavList.txt"
# DAEMON_BIN runs another build (an older one, for a before-and-after); the cap is set either way.
start_daemon "${DAEMON_BIN:-$bin/NuvoClientDaemon}" "$work/demo" --max-bandwidth 100
daemon=$daemon_pid
url="http://127.0.0.1:$port/wclientdat/"

# The bodies tell which target is which: the largest wav, and the image closest to 20 KB.
"$bin/NuvoClient" targets "$work/demo" "$url" > "$work/targets.txt"
"$bin/NuvoClient" mirror "$url" "$work/www" < "$work/targets.txt" > /dev/null
size_of() { stat -c %s "$work/www$1"; }
wav=$(grep '/4\.html$' "$work/targets.txt" | while read -r t; do echo "$(size_of "$t") $t"; done | sort -n | tail -n 1)
image=$(grep '/[12]\.html$' "$work/targets.txt" | while read -r t; do
  s=$(size_of "$t"); echo "$(( s > 20480 ? s - 20480 : 20480 - s )) $s $t"; done | sort -n | head -n 1)
echo "hog: wav of ${wav%% *} bytes; player: image of $(echo "$image" | cut -d' ' -f2) bytes; cap 100 MB/s"
wav=${wav#* }
image=$(echo "$image" | cut -d' ' -f3)

# player: prints "<p50 ms> <p99 ms>" of REQUESTS sequential requests from 127.0.0.2.
player() {
  for _ in $(seq "$REQUESTS"); do echo "url = \"http://127.0.0.1:$port$image\""; echo 'output = "/dev/null"'; done > "$work/player.conf"
  curl -s --interface 127.0.0.2 -K "$work/player.conf" -w '%{time_total}\n' | sort -n |
    awk '{v[NR] = $1 * 1000} END { printf "%.2f %.2f\n", v[int(NR * 0.5) + 1], v[int(NR * 0.99) + 1] }'
}

printf '%-22s | %9s %9s | %12s %8s\n' "" "p50 ms" "p99 ms" "hog MB/s" "of cap"
read -r p50 p99 < <(player)
printf '%-22s | %9s %9s | %12s %8s\n' "player alone" "$p50" "$p99" - -
for conns in $HOGS; do
  wrk -t2 -c"$conns" -d"${DURATION}s" --timeout 60s "http://127.0.0.1:$port$wav" > "$work/hog.txt" 2>&1 &
  hog=$!
  sleep 3  # the hog's connections are all open and sending
  read -r p50 p99 < <(player)
  wait "$hog" || true
  hog=""
  rate=$(awk '/Transfer\/sec/ { v = $2; if (v ~ /GB$/) v *= 1024; else if (v ~ /KB$/) v /= 1024; print v + 0 }' "$work/hog.txt")
  printf '%-22s | %9s %9s | %12.1f %7.0f%%\n' "beside $conns connections" "$p50" "$p99" "$rate" "$(awk -v r="$rate" 'BEGIN { print r }')"
done
