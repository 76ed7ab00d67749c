#!/usr/bin/env bash
# Load benchmark of the scale-out layout on loopback, in one command:
#   bench/scaleout_load.sh        (DURATION=10 CONNECTIONS=64 THREADS=2 to change the run)
# Two instances without a bandwidth cap (bench/e2e_daemon_nocap, what an operator gets with the
# cap at 0) on copies of the demo installation, nginx with deploy/nginx/nuvo-origins.conf in
# front. wrk rotates over every image entry, library header, map and wav, half of the threads
# asking with "Accept-Encoding: deflate". Rows: one instance asked directly, as started (cap
# 100 MB/s) and without a cap; through nginx with a warm cache (every answer a hit), with every
# request passed to an instance (cache bypassed: the cost of a miss), and from a cold cache
# (the first run after nginx starts). Prints requests and bytes per second, p99 latency and the
# share of answers nginx took from its cache.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
CONNECTIONS="${CONNECTIONS:-64}"
source bench/load_common.sh
build_targets NuvoClientDaemon e2e_daemon_nocap NuvoDemoData NuvoClient http_bench_server
bin="$top/build"

work=$(mktemp -d)
chmod 755 "$work"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null || true; done
  stop_nginx
  rm -rf "$work"
}
trap cleanup EXIT

free_port() { "$bin/http_bench_server" --free-port; }
port_c=$(free_port); port_a=$(free_port); port_b=$(free_port); port_n=$(free_port)
"$bin/NuvoDemoData" "$work/c" "$port_c" > /dev/null
copy_installation "$work/c" "$work/a" "$port_a"
copy_installation "$work/c" "$work/b" "$port_b"
start_daemon "$bin/NuvoClientDaemon" "$work/c"; pids+=("$daemon_pid")
start_daemon "$bin/e2e_daemon_nocap" "$work/a"; pids+=("$daemon_pid")
start_daemon "$bin/e2e_daemon_nocap" "$work/b"; pids+=("$daemon_pid")
"$bin/NuvoClient" targets "$work/a" "http://127.0.0.1:$port_a/wclientdat/" --samples all > "$work/targets.txt"
echo "$(wc -l < "$work/targets.txt") targets; $CONNECTIONS connections, $THREADS threads, $DURATION s per row"

# row NAME URL: one wrk run; prints its line of the table.
row() {
  local out rps p99 transfer hit answers
  out=$(wrk -t"$THREADS" -c"$CONNECTIONS" -d"${DURATION}s" --timeout 10s --latency \
          -s tests/scaleout/scaleout.lua "$2" -- "$work/targets.txt" 0)
  echo "$out" | grep -E "Non-2xx|Socket errors" | sed "s|^ *|  $1: |" >&2 || true
  rps=$(echo "$out" | awk '/Requests\/sec/ {print $2}')
  transfer=$(echo "$out" | awk '/Transfer\/sec/ {print $2}')
  p99=$(echo "$out" | awk '$1 == "99%" {print $2}')
  answers=$(echo "$out" | awk '$1 == "answers" {print $2}')
  hit=$(echo "$out" | awk -v n="$answers" '$1 == "hit" {printf "%.1f%%", (n > 0 ? 100 * $2 / n : 0)}')
  printf '%-34s %12s %12s %9s %9s\n' "$1" "$rps" "$transfer" "$p99" "$hit"
}

printf '%-34s %12s %12s %9s %9s\n' "" "requests/s" "bytes/s" "p99" "cache hit"
row "one instance, cap 100 MB/s" "http://127.0.0.1:$port_c/"
row "one instance, no cap" "http://127.0.0.1:$port_a/"

NGINX_WORKERS=2 start_nginx_origins "$port_n" 10m "$port_a" "$port_b"
wait_port "$port_n"
row "nginx, 2 instances, cold cache" "http://127.0.0.1:$port_n/"
row "nginx, 2 instances, warm cache" "http://127.0.0.1:$port_n/"
stop_nginx

# Every request passed to an instance: the index-table rule (never cached) made the rule for all.
cp deploy/nginx/nuvo-origins.conf "$work/bypass.conf"
sed -i '/map \$request_uri \$nuvo_uncached/,/}/ s|default *0;|default 1;|' "$work/bypass.conf"
grep -q "default 1;" "$work/bypass.conf" || { echo "cannot render the bypass configuration" >&2; exit 1; }
rm -rf "$work/cache"
NGINX_ORIGINS_CONF="$work/bypass.conf" NGINX_WORKERS=2 start_nginx_origins "$port_n" 10m "$port_a" "$port_b"
wait_port "$port_n"
row "nginx, 2 instances, cache bypassed" "http://127.0.0.1:$port_n/"
