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
DURATION="${DURATION:-10}"
CONNECTIONS="${CONNECTIONS:-64 512}"
THREADS="${THREADS:-2}"

bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DNUVO_CONSOLE=OFF >/dev/null
cmake --build build -j2 --target http_bench_server >/dev/null
server_bin="$top/build/http_bench_server"
nginx_bin=$(command -v nginx || echo /usr/sbin/nginx)

work=$(mktemp -d)
chmod 755 "$work"
ours_pid=""; nginx_pid=""
cleanup() {
  [ -n "$ours_pid" ] && kill "$ours_pid" 2>/dev/null && wait "$ours_pid" 2>/dev/null || true
  [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

"$server_bin" --write-files "$work/www"
chmod -R a+rX "$work/www"

ours_port=$("$server_bin" --free-port)
"$server_bin" "$ours_port" > "$work/ours.log" 2>&1 &
ours_pid=$!

nginx_port=$("$server_bin" --free-port)
user_line=""
[ "$(id -u)" -eq 0 ] && user_line="user $(id -un) $(id -gn);"
cat > "$work/nginx.conf" <<CONF
$user_line
worker_processes auto;
pid $work/nginx.pid;
error_log $work/nginx-error.log;
events { worker_connections 8192; }
http {
  access_log off;
  client_body_temp_path $work/tmp-body;
  proxy_temp_path $work/tmp-proxy;
  fastcgi_temp_path $work/tmp-fastcgi;
  uwsgi_temp_path $work/tmp-uwsgi;
  scgi_temp_path $work/tmp-scgi;
  types { text/html html; }
  default_type text/html;
  sendfile on;
  tcp_nopush on;
  tcp_nodelay on;
  keepalive_timeout 60s;
  keepalive_requests 10000000;
  open_file_cache max=16 inactive=60s;
  gzip on;
  gzip_comp_level 1;
  gzip_min_length 1024;
  server {
    listen 127.0.0.1:$nginx_port;
    root $work/www;
  }
}
CONF
"$nginx_bin" -p "$work" -c "$work/nginx.conf" -g "daemon off;" &
nginx_pid=$!

wait_port() {
  for _ in $(seq 100); do
    (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0
    sleep 0.1
  done
  echo "nothing listens on port $1" >&2; exit 1
}
wait_port "$ours_port"
wait_port "$nginx_port"

# One wrk run; prints "<requests per second> <p99 in ms>", and any errors to stderr.
measure() {
  local name=$1 url=$2 conns=$3 coded=$4 out
  local args=(-t"$THREADS" -c"$conns" -d"${DURATION}s" --timeout 10s --latency)
  [ "$coded" = yes ] && args+=(-H "Accept-Encoding: gzip, deflate")
  out=$(wrk "${args[@]}" "$url")
  echo "$out" | grep -E "Non-2xx|Socket errors" | sed "s/^ */  $name: /" >&2 || true
  local rps p99
  rps=$(echo "$out" | awk '/Requests\/sec/ {print $2}')
  p99=$(echo "$out" | awk '$1 == "99%" {v=$2; if (v ~ /us$/) {sub(/us$/,"",v); v/=1000} else if (v ~ /ms$/) {sub(/ms$/,"",v)} else if (v ~ /s$/) {sub(/s$/,"",v); v*=1000}; print v}')
  echo "$rps $p99"
}

printf '%-6s %-6s %-6s | %12s %9s | %12s %9s | %6s\n' body conns coded "front rps" "p99 ms" "nginx rps" "p99 ms" ratio
for size in 8k 64k; do
  for coded in no yes; do
    for conns in $CONNECTIONS; do
      read -r our_rps our_p99 < <(measure front "http://127.0.0.1:$ours_port/wclientdat/$size.html" "$conns" "$coded")
      read -r ng_rps ng_p99 < <(measure nginx "http://127.0.0.1:$nginx_port/wclientdat/$size.html" "$conns" "$coded")
      ratio=$(awk -v a="$our_rps" -v b="$ng_rps" 'BEGIN { printf (b > 0 ? "%.2f" : "-"), a / b }')
      printf '%-6s %-6s %-6s | %12s %9s | %12s %9s | %6s\n' "$size" "$conns" "$coded" "$our_rps" "$our_p99" "$ng_rps" "$ng_p99" "$ratio"
    done
  done
done
