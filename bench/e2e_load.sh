#!/usr/bin/env bash
# End-to-end load benchmark of the headless server against nginx on loopback, in one command:
#   bench/e2e_load.sh            (DURATION=10 CONNECTIONS="64 512" THREADS=2 to change the run)
# Writes the demo installation into a scratch folder and serves it with NuvoClientDaemon as it
# starts (bandwidth cap 100 MB/s) and with the same program without a cap (bench/e2e_daemon_nocap,
# what an operator gets by setting the cap to 0 in the console); the client tool lists the request targets of every image entry, library header and map, and fetches
# their bodies, which nginx then serves as static files: the very same bytes on both sides. wrk
# rotates over those targets against both, without and with content coding ("Accept-Encoding:
# gzip, deflate": deflate from the daemon, gzip level 1 from nginx). Prints requests per second,
# p99 latency, transfer rate, the ratios to nginx, the processor time per request of the uncapped
# daemon and of nginx (user + system, all threads and workers: what the server costs the machine
# per answer), and each daemon's peak resident memory.
# LONG_TAIL=1 serves a real-sized installation instead of the demo: LIBRARIES (40) libraries of
# IMAGES (1300) distinct images each (over 300 MB of bodies; LONG_TAIL_STORE=DIR keeps them, and
# nginx's copy, for the next run), every image entry a target, the list shuffled three times over, so nearly every request misses any cache that holds less than the
# whole installation. Only the uncapped daemon runs then (NOCAP_OPTIONS are its options, e.g.
# "--cache-mb 32"; BASE_BIN an older build of it to measure beside it in the first column),
# beside nginx with an open-file cache as large as the open-file limit allows.
# METRICS=1 runs both daemons with --metrics and scrapes their /metrics every second meanwhile, so
# two runs, with and without it, show the metrics' cost side by side. ADMIN=1 likewise runs both
# with --admin and polls what an open browser console polls every second (status, traffic, log).
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
source bench/load_common.sh
build_targets NuvoClientDaemon e2e_daemon_nocap NuvoDemoData NuvoClient http_bench_server
bin="$top/build"

work=$(mktemp -d)
chmod 755 "$work"
capped_pid=""; nocap_pid=""; scrape_pid=""
cleanup() {
  for pid in $scrape_pid $capped_pid $nocap_pid; do kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null || true; done
  stop_nginx
  rm -rf "$work"
}
trap cleanup EXIT

capped_port=$("$bin/http_bench_server" --free-port)
nocap_port=$("$bin/http_bench_server" --free-port)
demo="$work/demo" www="$work/www"
if [ -n "${LONG_TAIL:-}" ]; then
  # LONG_TAIL_STORE keeps the installation and nginx's copy of its bodies for the next run.
  if [ -n "${LONG_TAIL_STORE:-}" ]; then demo="$LONG_TAIL_STORE/demo" www="$LONG_TAIL_STORE/www"; fi
  if [ ! -e "$demo/complete" ]; then
    rm -rf "$demo" "$www"
    "$bin/NuvoDemoData" "$demo" "$capped_port" --long-tail "${LIBRARIES:-40}" --images "${IMAGES:-1300}"
  fi
  # nginx keeps one descriptor per cached file and per connection within each worker's limit.
  nofile=$(ulimit -n)
  export NGINX_MAIN_EXTRA="worker_rlimit_nofile $nofile;"
  export OPEN_FILE_CACHE="max=$((nofile - 8192 - 512)) inactive=60s"
else
  "$bin/NuvoDemoData" "$demo" "$capped_port"
fi
mkdir -p "$work/nocap"
sed "s/^Port=[0-9]*/Port=$nocap_port/" "$demo/Config.ini" > "$work/nocap/Config.ini"
cp "$demo/"*List.txt "$work/nocap/"
metrics_ports=()
metrics_args() {
  [ -n "${METRICS:-}" ] || return 0
  metrics_ports+=("$("$bin/http_bench_server" --free-port)")
  echo --metrics "127.0.0.1:${metrics_ports[-1]}"
}
capped_metrics=$(metrics_args); nocap_metrics=$(metrics_args)
[ -z "${METRICS:-}" ] || metrics_ports=("${capped_metrics##*:}" "${nocap_metrics##*:}")
admin_ports=()
admin_args() {
  [ -n "${ADMIN:-}" ] || return 0
  echo --admin "127.0.0.1:$("$bin/http_bench_server" --free-port)"
}
capped_admin=$(admin_args); nocap_admin=$(admin_args)
[ -z "${ADMIN:-}" ] || admin_ports=("${capped_admin##*:}" "${nocap_admin##*:}")
capped_name=capped capped_dir=$demo
if [ -z "${LONG_TAIL:-}" ]; then
  start_daemon "$bin/NuvoClientDaemon" "$demo" $capped_metrics $capped_admin
  capped_pid=$daemon_pid
elif [ -n "${BASE_BIN:-}" ]; then
  # The long tail has no capped column: BASE_BIN (an older build of the uncapped daemon) takes it,
  # measured row by row beside the new one.
  capped_name=base capped_dir=$work/base
  mkdir -p "$work/base"
  sed "s/^Port=[0-9]*/Port=$capped_port/" "$demo/Config.ini" > "$work/base/Config.ini"
  cp "$demo/"*List.txt "$work/base/"
  start_daemon "$BASE_BIN" "$work/base"
  capped_pid=$daemon_pid
fi
# NOCAP_BIN runs another build of it (an older one, for a before-and-after in one sitting).
start_daemon "${NOCAP_BIN:-$bin/e2e_daemon_nocap}" "$work/nocap" $nocap_metrics $nocap_admin ${NOCAP_OPTIONS:-}
nocap_pid=$daemon_pid
if [ -n "${METRICS:-}" ]; then
  (while sleep 1; do for p in "${metrics_ports[@]}"; do curl -s "http://127.0.0.1:$p/metrics" > /dev/null; done; done) &
  scrape_pid=$!
fi
if [ -n "${ADMIN:-}" ]; then
  (while sleep 1; do
     for f in "$demo:${admin_ports[0]}" "$work/nocap:${admin_ports[1]}"; do
       h="Authorization: Bearer $(cat "${f%%:*}/admin.token")"
       for a in status traffic "log?since=0"; do curl -s -H "$h" "http://127.0.0.1:${f##*:}/api/$a" > /dev/null; done
     done
   done) &
  scrape_pid="$scrape_pid $!"
fi
url="http://127.0.0.1:$capped_port/wclientdat/"

if [ -n "${LONG_TAIL:-}" ]; then
  url="http://127.0.0.1:$nocap_port/wclientdat/"
  if [ ! -e "$demo/complete" ]; then
    "$bin/NuvoClient" targets "$demo" "$url" --samples all | grep '/1\.html$' > "$demo/all.txt"
    "$bin/NuvoClient" mirror "$url" "$www" < "$demo/all.txt"
    touch "$demo/complete"
  fi
  for seed in 1 2 3; do shuf --random-source=<(yes "$seed") "$demo/all.txt"; done > "$work/targets.txt"
  count=$(wc -l < "$demo/all.txt")
else
  # Image entries, library headers and maps (the wavs, type 4, stay out).
  "$bin/NuvoClient" targets "$demo" "$url" | grep -v '/4\.html$' > "$work/targets.txt"
  "$bin/NuvoClient" mirror "$url" "$www" < "$work/targets.txt"
  count=$(wc -l < "$work/targets.txt")
fi
chmod -R a+rX "$www"
bytes=$(find "$www" -type f -printf '%s\n' | awk '{s += $1} END {print s}')
echo "$count distinct bodies, $bytes bytes, $((bytes / count)) bytes per body on average;" \
  "$(wc -l < "$work/targets.txt") targets"

nginx_port=$("$bin/http_bench_server" --free-port)
start_nginx "$www" "$nginx_port"
wait_port "$nginx_port"

script=(-s "$top/bench/e2e_load.lua" -- "$work/targets.txt")
printf '%-5s %-5s | %10s %8s %9s | %10s %8s %9s | %10s %8s %9s | %5s %5s | %6s %6s\n' conns coded \
  "$capped_name rps" "p99 ms" transfer "no-cap rps" "p99 ms" transfer "nginx rps" "p99 ms" transfer cap/n no/n \
  "us/req" "nginx"
for coded in no yes; do
  for conns in $CONNECTIONS; do
    c_rps=- c_p99=- c_tr=-
    [ -n "$capped_pid" ] &&
      read -r c_rps c_p99 c_tr < <(measure "$capped_name" "http://127.0.0.1:$capped_port/" "$conns" "$coded" "${script[@]}")
    t0=$(cpu_ticks "$nocap_pid")
    read -r d_rps d_p99 d_tr < <(measure no-cap "http://127.0.0.1:$nocap_port/" "$conns" "$coded" "${script[@]}")
    d_us=$(us_per_request $(($(cpu_ticks "$nocap_pid") - t0)) "$d_rps")
    t0=$(cpu_ticks "$nginx_pid")
    read -r n_rps n_p99 n_tr < <(measure nginx "http://127.0.0.1:$nginx_port/" "$conns" "$coded" "${script[@]}")
    n_us=$(us_per_request $(($(cpu_ticks "$nginx_pid") - t0)) "$n_rps")
    r1=$(awk -v a="$c_rps" -v b="$n_rps" 'BEGIN { printf (b > 0 && a != "-" ? "%.2f" : "-"), a / b }')
    r2=$(awk -v a="$d_rps" -v b="$n_rps" 'BEGIN { printf (b > 0 && a != "-" ? "%.2f" : "-"), a / b }')
    printf '%-5s %-5s | %10s %8s %9s | %10s %8s %9s | %10s %8s %9s | %5s %5s | %6s %6s\n' "$conns" "$coded" \
      "$c_rps" "$c_p99" "$c_tr" "$d_rps" "$d_p99" "$d_tr" "$n_rps" "$n_p99" "$n_tr" "$r1" "$r2" "$d_us" "$n_us"
  done
done
for d in "$capped_name:$capped_pid:$capped_dir" "no-cap:$nocap_pid:$work/nocap"; do
  IFS=: read -r name pid folder <<< "$d"
  [ -n "$pid" ] || continue
  echo "$name daemon: peak resident memory $(awk '/VmHWM/ {print $2, $3}' "/proc/$pid/status");" \
       "$(grep -E '请求: ' "$folder/daemon.log" | tail -n 1 | sed 's/^\[[^]]*\] //')"
done
