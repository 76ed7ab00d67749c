#!/usr/bin/env bash
# Load benchmark of the HTTP front end against nginx on loopback, in one command:
#   bench/http_load.sh            (DURATION=10 CONNECTIONS="64 512" THREADS=2 to change the run)
# Both servers answer the same 8 KiB and 64 KiB bodies: the front end from a fixed handler (32
# workers), nginx from static files with gzip at level 1. wrk drives both over keep-alive
# connections, without and with content coding ("Accept-Encoding: gzip, deflate": deflate for the
# front end, gzip for nginx). Prints requests per second, p99 latency and the ratio to nginx.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
source bench/load_common.sh
build_targets http_bench_server
server_bin="$top/build/http_bench_server"

work=$(mktemp -d)
chmod 755 "$work"
ours_pid=""
cleanup() {
  [ -n "$ours_pid" ] && kill "$ours_pid" 2>/dev/null && wait "$ours_pid" 2>/dev/null || true
  stop_nginx
  rm -rf "$work"
}
trap cleanup EXIT

"$server_bin" --write-files "$work/www"
chmod -R a+rX "$work/www"

ours_port=$("$server_bin" --free-port)
"$server_bin" "$ours_port" > "$work/ours.log" 2>&1 &
ours_pid=$!

nginx_port=$("$server_bin" --free-port)
start_nginx "$work/www" "$nginx_port"
wait_port "$ours_port"
wait_port "$nginx_port"

printf '%-6s %-6s %-6s | %12s %9s | %12s %9s | %6s\n' body conns coded "front rps" "p99 ms" "nginx rps" "p99 ms" ratio
for size in 8k 64k; do
  for coded in no yes; do
    for conns in $CONNECTIONS; do
      read -r our_rps our_p99 _ < <(measure front "http://127.0.0.1:$ours_port/wclientdat/$size.html" "$conns" "$coded")
      read -r ng_rps ng_p99 _ < <(measure nginx "http://127.0.0.1:$nginx_port/wclientdat/$size.html" "$conns" "$coded")
      ratio=$(awk -v a="$our_rps" -v b="$ng_rps" 'BEGIN { printf (b > 0 ? "%.2f" : "-"), a / b }')
      printf '%-6s %-6s %-6s | %12s %9s | %12s %9s | %6s\n' "$size" "$conns" "$coded" "$our_rps" "$our_p99" "$ng_rps" "$ng_p99" "$ratio"
    done
  done
done
