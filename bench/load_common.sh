# Shared pieces of the load benchmarks and the scale-out test, sourced from the top folder by
# bench/http_load.sh, bench/e2e_load.sh, bench/scaleout_load.sh and tests/scaleout/scaleout.sh:
# the run's settings, building, headless programs on copies of the demo installation, nginx
# serving a folder of static files or proxying to the instances (deploy/nginx), waiting for a
# port, and one wrk run. The caller sets $work, a scratch directory it removes, and calls
# stop_nginx when done.

DURATION="${DURATION:-10}"
CONNECTIONS="${CONNECTIONS:-64 512}"
THREADS="${THREADS:-2}"

# build_targets TARGET...: installs what is missing and builds the targets in build/.
build_targets() {
  bash scripts/install-deps.sh
  cmake -S . -B build -G Ninja >/dev/null
  cmake --build build -j2 --target "$@" >/dev/null
}

nginx_bin=$(command -v nginx || echo /usr/sbin/nginx)
nginx_pid=""

# run_nginx HTTP_BLOCK: runs nginx in the foreground with $work as its prefix (pid, logs and
# temporary files there; no system file is read or written) and HTTP_BLOCK inside `http`.
run_nginx() {
  local user_line=""
  [ "$(id -u)" -eq 0 ] && user_line="user $(id -un) $(id -gn);"
  cat > "$work/nginx.conf" <<CONF
$user_line
worker_processes ${NGINX_WORKERS:-auto};
pid $work/nginx.pid;
error_log $work/nginx-error.log;
${NGINX_MAIN_EXTRA:-}
events { worker_connections 8192; }
http {
  client_body_temp_path $work/tmp-body;
  proxy_temp_path $work/tmp-proxy;
  fastcgi_temp_path $work/tmp-fastcgi;
  uwsgi_temp_path $work/tmp-uwsgi;
  scgi_temp_path $work/tmp-scgi;
$1
}
CONF
  "$nginx_bin" -p "$work" -c "$work/nginx.conf" -g "daemon off;" &
  nginx_pid=$!
}

# start_nginx ROOT PORT: serves ROOT on 127.0.0.1:PORT with keep-alive and gzip for every type.
start_nginx() {
  run_nginx "
  access_log off;
  types { text/html html; }
  default_type text/html;
  sendfile on;
  tcp_nopush on;
  tcp_nodelay on;
  keepalive_timeout 60s;
  keepalive_requests 10000000;
  open_file_cache ${OPEN_FILE_CACHE:-max=4096 inactive=60s};
  gzip on;
  gzip_comp_level 1;
  gzip_min_length 1024;
  gzip_types *;
  server {
    listen 127.0.0.1:$2;
    root $1;
  }"
}

# start_nginx_origins PORT VALID ORIGIN_PORT...: nginx with deploy/nginx/nuvo-origins.conf (or
# $NGINX_ORIGINS_CONF) on 127.0.0.1:PORT in front of the instances on ORIGIN_PORTs, its cache in
# $work/cache, answers kept fresh for VALID ("10m", "2s"). The rendered file is
# $work/nuvo-origins.conf.
start_nginx_origins() {
  local port=$1 valid=$2
  shift 2
  awk -v port="$port" -v valid="$valid" -v cache="$work/cache" -v origins="$*" '
    /# render: origins/ {
      if (!done) { n = split(origins, o, " "); for (i = 1; i <= n; i++) printf "    server 127.0.0.1:%s max_fails=1 fail_timeout=2s;\n", o[i] }
      done = 1; next
    }
    /# render: listen/ { print "    listen 127.0.0.1:" port ";"; next }
    /# render: cache/ { sub(/proxy_cache_path [^ ]+/, "proxy_cache_path " cache); sub(/ *# render: cache/, ""); print; next }
    /# render: tries/ { print "        proxy_next_upstream_tries " split(origins, o, " ") ";"; next }
    /# render: valid/ { print "        proxy_cache_valid 200 " valid ";"; next }
    { print }' "${NGINX_ORIGINS_CONF:-deploy/nginx/nuvo-origins.conf}" > "$work/nuvo-origins.conf"
  run_nginx "  include $work/nuvo-origins.conf;"
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

# start_daemon PROGRAM FOLDER [OPTION...]: runs PROGRAM with the options in FOLDER (output appended
# to FOLDER/daemon.log) and waits for its address line; sets daemon_pid.
start_daemon() {
  local before
  before=$(address_lines "$2")
  (cd "$2" && exec "$1" "${@:3}") >> "$2/daemon.log" 2>&1 &
  daemon_pid=$!
  wait_address_lines "$2" $((before + 1)) "$daemon_pid"
}

# address_lines FOLDER: how many times the program in FOLDER printed its address line (once per
# start of its service, once more after each reload).
address_lines() {
  local n
  n=$(grep -c "微端部署地址: http" "$1/daemon.log" 2>/dev/null) || true
  echo "${n:-0}"
}

# wait_address_lines FOLDER COUNT PID: waits (60 s at most) until there are COUNT of them.
wait_address_lines() {
  for _ in $(seq 600); do
    [ "$(address_lines "$1")" -ge "$2" ] && return 0
    kill -0 "$3" 2>/dev/null || break
    sleep 0.1
  done
  cat "$1/daemon.log" >&2
  echo "no address line from the program in $1" >&2
  exit 1
}

# copy_installation FROM TO PORT: copies an installation folder, as an operator copies it to
# another host; the copy's settings and lists name its own files, and it listens on PORT.
copy_installation() {
  cp -a "$1" "$2"
  rm -f "$2/daemon.log"
  LC_ALL=C sed -i "s|$1/|$2/|g; s|^Port=[0-9]*|Port=$3|" "$2/Config.ini" "$2/"*List.txt
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
