# Shared pieces of the load benchmarks, sourced from the top folder by bench/http_load.sh and
# bench/e2e_load.sh: the run's settings, building, nginx serving a folder of static files on
# loopback (gzip level 1), waiting for a port, and one wrk run. The caller sets $work, a scratch
# directory it removes, and calls stop_nginx when done.

DURATION="${DURATION:-10}"
CONNECTIONS="${CONNECTIONS:-64 512}"
THREADS="${THREADS:-2}"

# build_targets TARGET...: installs what is missing and builds the targets in build/.
build_targets() {
  bash scripts/install-deps.sh
  cmake -S . -B build -G Ninja -DNUVO_CONSOLE=OFF >/dev/null
  cmake --build build -j2 --target "$@" >/dev/null
}

nginx_bin=$(command -v nginx || echo /usr/sbin/nginx)
nginx_pid=""

# start_nginx ROOT PORT: serves ROOT on 127.0.0.1:PORT with keep-alive and gzip for every type.
start_nginx() {
  local root=$1 port=$2 user_line=""
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
  open_file_cache max=4096 inactive=60s;
  gzip on;
  gzip_comp_level 1;
  gzip_min_length 1024;
  gzip_types *;
  server {
    listen 127.0.0.1:$port;
    root $root;
  }
}
CONF
  "$nginx_bin" -p "$work" -c "$work/nginx.conf" -g "daemon off;" &
  nginx_pid=$!
}

stop_nginx() {
  if [ -n "$nginx_pid" ]; then
    kill "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null || true
    nginx_pid=""
  fi
}

# cpu_ticks PID...: processor time (user + system, in clock ticks) that the processes and their
# child processes (nginx's workers) used so far.
cpu_ticks() {
  local total=0 pid
  for pid in "$@" $(for p in "$@"; do pgrep -P "$p" || true; done); do
    [ -r "/proc/$pid/stat" ] || continue
    total=$((total + $(sed 's/^.*) //' "/proc/$pid/stat" | awk '{print $12 + $13}')))
  done
  echo "$total"
}

# us_per_request TICKS REQUESTS_PER_SECOND: microseconds of processor time per request.
us_per_request() {
  awk -v t="$1" -v r="$2" -v hz="$(getconf CLK_TCK)" -v d="$DURATION" \
    'BEGIN { printf (r > 0 ? "%.1f" : "-"), t * 1000000 / hz / (r * d) }'
}

wait_port() {
  for _ in $(seq 100); do
    (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0
    sleep 0.1
  done
  echo "nothing listens on port $1" >&2
  exit 1
}

# measure NAME URL CONNECTIONS CODED [WRK_OPTIONS...] [-- SCRIPT_ARGS...]: one wrk run of
# $DURATION seconds on $THREADS threads; prints "<requests per second> <p99 in ms> <transfer per
# second>", errors to stderr.
measure() {
  local name=$1 url=$2 conns=$3 coded=$4 out
  shift 4
  local args=(-t"$THREADS" -c"$conns" -d"${DURATION}s" --timeout 10s --latency) tail=()
  while [ $# -gt 0 ] && [ "$1" != "--" ]; do args+=("$1"); shift; done
  [ $# -gt 0 ] && tail=("$@")
  [ "$coded" = yes ] && args+=(-H "Accept-Encoding: gzip, deflate")
  out=$(wrk "${args[@]}" "$url" "${tail[@]}")
  echo "$out" | grep -E "Non-2xx|Socket errors" | sed "s/^ */  $name: /" >&2 || true
  local rps p99 transfer
  rps=$(echo "$out" | awk '/Requests\/sec/ {print $2}')
  p99=$(echo "$out" | awk '$1 == "99%" {v=$2; if (v ~ /us$/) {sub(/us$/,"",v); v/=1000} else if (v ~ /ms$/) {sub(/ms$/,"",v)} else if (v ~ /s$/) {sub(/s$/,"",v); v*=1000}; print v}')
  transfer=$(echo "$out" | awk '/Transfer\/sec/ {print $2}')
  echo "$rps $p99 $transfer"
}
