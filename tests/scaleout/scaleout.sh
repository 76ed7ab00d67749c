#!/usr/bin/env bash
# Scale-out test: two headless programs on two copies of the demo installation behind nginx with
# deploy/nginx/nuvo-origins.conf as shipped beside Debian's default site, the default_server of
# port 80 (answers kept fresh for 2 s only, so that the instances keep being asked). The default
# site answers its own port; the client tool's check passes through nginx; then, under wrk load through nginx
# (rotating real targets, asked plain on one thread and deflate-coded on the other, and index-table requests that always reach
# an instance), one instance is killed with SIGKILL and started again, and both are reloaded with
# SIGHUP one after the other. Passes when wrk saw no socket error and no answer other than 200,
# every body was one of the right ones (fetched directly from an instance beforehand) and the
# client tool's check, run again and again during the load, never failed.
#   tests/scaleout/scaleout.sh [BUILD_DIR]      (DURATION=16 seconds of load by default)
# Exit status 77 (skipped) when nginx or wrk is not installed.
set -euo pipefail
cd "$(dirname "$0")/../.."
top=$(pwd)
bin=$(cd "${1:-build}" && pwd)
DURATION="${DURATION:-16}"
source bench/load_common.sh

if [ ! -x "$nginx_bin" ] || ! command -v wrk >/dev/null; then
  echo "scaleout: SKIPPED: nginx and wrk are needed (Debian packages nginx-light and wrk; scripts/install-deps.sh installs them)"
  exit 77
fi
for p in NuvoClientDaemon NuvoClient NuvoDemoData http_bench_server; do
  [ -x "$bin/$p" ] || { echo "scaleout: $bin/$p is not built" >&2; exit 1; }
done

work=$(mktemp -d)
chmod 755 "$work"
pid_a=""; pid_b=""; wrk_pid=""; check_pid=""
cleanup() {
  for pid in $wrk_pid $check_pid $pid_a $pid_b; do kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null || true; done
  stop_nginx
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "scaleout: FAILED: $*" >&2
  for f in "$work"/a/daemon.log "$work"/b/daemon.log "$work"/nginx-error.log; do
    [ -s "$f" ] && { echo "---- $f (last lines)" >&2; tail -n 20 "$f" >&2; }
  done
  exit 1
}

port_a=$("$bin/http_bench_server" --free-port)
port_b=$("$bin/http_bench_server" --free-port)
port_n=$("$bin/http_bench_server" --free-port)
port_d=$("$bin/http_bench_server" --free-port)
"$bin/NuvoDemoData" "$work/a" "$port_a" > /dev/null
copy_installation "$work/a" "$work/b" "$port_b"
start_daemon "$bin/NuvoClientDaemon" "$work/a"; pid_a=$daemon_pid
start_daemon "$bin/NuvoClientDaemon" "$work/b"; pid_b=$daemon_pid
NGINX_WORKERS=2 NGINX_DEFAULT_SITE_PORT=$port_d start_nginx_origins "$port_n" 2s "$port_a" "$port_b"
wait_port "$port_d"
wait_port "$port_n"
through="http://127.0.0.1:$port_n/wclientdat/"
# The default site is there, and is not what answers game requests.
[ "$(curl -s -o /dev/null -w '%{http_code}' "http://127.0.0.1:$port_d/wclientdat/x/1.html")" = 404 ] ||
  fail "Debian's default site does not answer beside the recipe"

"$bin/NuvoClient" check "$work/a" "$through" > "$work/check.txt" || { cat "$work/check.txt" >&2; fail "check through nginx"; }
echo "scaleout: check through nginx: $(tail -n 1 "$work/check.txt")"

# The targets, and the right bodies of each, plain and coded, asked directly from instance b.
"$bin/NuvoClient" targets "$work/a" "$through" --samples all > "$work/targets.txt"
mkdir -p "$work/right"
for coding in plain deflate; do
  n=0
  while read -r t; do
    n=$((n + 1))
    echo "url = \"http://127.0.0.1:$port_b$t\""
    echo "output = \"$work/right/$coding-$n\""
  done < "$work/targets.txt" > "$work/curl-$coding.txt"
  header=(); [ "$coding" = deflate ] && header=(-H "Accept-Encoding: deflate")
  curl -sS --fail "${header[@]}" -K "$work/curl-$coding.txt"
done
curl -sS --fail -o "$work/right/table" "http://127.0.0.1:$port_b/wclientdat/scaleout/check-indexes"
for coding in plain deflate; do
  find "$work/right" -type f -size +0 \( -name "$coding-*" -o -name table \) > "$work/right-$coding.txt"
done
echo "scaleout: $(wc -l < "$work/targets.txt") targets, $(cat "$work"/right-*.txt | sort -u | wc -l) right bodies"

# The load, and the client tool's check again and again beside it.
wrk -t2 -c32 -d"${DURATION}s" --timeout 10s -s tests/scaleout/scaleout.lua "http://127.0.0.1:$port_n/" \
  -- "$work/targets.txt" 16 "$work/right-plain.txt" "$work/right-deflate.txt" > "$work/wrk.txt" 2>&1 &
wrk_pid=$!
(
  runs=0
  while kill -0 "$wrk_pid" 2>/dev/null; do
    "$bin/NuvoClient" check "$work/a" "$through" > "$work/check-load.txt" 2>&1 ||
      { cp "$work/check-load.txt" "$work/check-failed.txt"; }
    runs=$((runs + 1))
  done
  echo "$runs" > "$work/check-runs.txt"
) &
check_pid=$!

sleep 3
kill -KILL "$pid_a"; wait "$pid_a" 2>/dev/null || true
echo "scaleout: instance a killed"
sleep 0.5
start_daemon "$bin/NuvoClientDaemon" "$work/a"; pid_a=$daemon_pid
echo "scaleout: instance a started again"
sleep 2
for d in a b; do
  pid_var="pid_$d"
  before=$(address_lines "$work/$d")
  kill -HUP "${!pid_var}"
  wait_address_lines "$work/$d" $((before + 1)) "${!pid_var}"
  echo "scaleout: instance $d reloaded"
  sleep 1
done

wait "$wrk_pid" || fail "wrk: $(cat "$work/wrk.txt")"
wrk_pid=""
wait "$check_pid"; check_pid=""

value() { awk -v k="$1" '$1 == k {print $2}' "$work/wrk.txt"; }
socket_errors=$(awk '/Socket errors/ {gsub(/,/, ""); print $4 + $6 + $8 + $10}' "$work/wrk.txt")
requests=$(awk '/requests in/ {print $1}' "$work/wrk.txt")
echo "scaleout: $requests requests in ${DURATION} s ($(value answers) checked): not 200: $(value not_ok)," \
     "wrong bodies: $(value wrong), empty: $(value empty), socket errors: ${socket_errors:-0};" \
     "cache hit $(value hit), miss or bypass $(value miss), stale $(value stale), other $(value other);" \
     "client tool checks: $(cat "$work/check-runs.txt");" \
     "nginx went to the other instance after $(grep -c 'upstream' "$work/nginx-error.log" || true) failures"
[ -z "$(value answers)" ] && fail "no figures from wrk: $(cat "$work/wrk.txt")"
[ "${socket_errors:-0}" -eq 0 ] || fail "socket errors: $(grep 'Socket errors' "$work/wrk.txt")"
grep -q "Non-2xx" "$work/wrk.txt" && fail "$(grep 'Non-2xx' "$work/wrk.txt")"
[ "$(value not_ok)" -eq 0 ] || fail "answers other than 200"
[ "$(value wrong)" -eq 0 ] && [ "$(value empty)" -eq 0 ] || fail "wrong or empty bodies"
[ -e "$work/check-failed.txt" ] && fail "the client tool's check under load: $(grep -v '^ok' "$work/check-failed.txt" | head)"
[ "$(cat "$work/check-runs.txt")" -gt 0 ] || fail "the client tool's check did not run under load"
echo "scaleout: passed"
