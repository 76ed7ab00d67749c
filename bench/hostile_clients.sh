#!/usr/bin/env bash
# The headless server under two attacks from loopback, bounded in count and time:
#   bench/hostile_clients.sh        (FLOOD_SECONDS=60 LENGTHS="8000 1000" HALF_OPEN=10000 TRIES=200 to change the run)
# 1. For FLOOD_SECONDS, index-table requests on 64 connections, each with a token never sent
#    before, for each token length of LENGTHS (8000: longer than any client's, never stored; 1000:
#    a client's length, held up to the throttle's cap). Prints how many were answered and the
#    server's resident memory before and after.
# 2. HALF_OPEN connections that never finish their head, from four loopback addresses (one
#    address may hold only part of the cap), each reopened as soon as the server closes it; meanwhile
#    TRIES newcomers, one after another, each given 5 s to be served. Prints how many were.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
source bench/load_common.sh
FLOOD_SECONDS="${FLOOD_SECONDS:-60}"
LENGTHS="${LENGTHS:-8000 1000}"
HALF_OPEN="${HALF_OPEN:-10000}"
TRIES="${TRIES:-200}"
build_targets NuvoClientDaemon NuvoDemoData http_bench_server
bin="$top/build"
work=$(mktemp -d)
pid=""
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

ulimit -n "$(ulimit -Hn)"
# A free port may be taken by another program before the server binds it: then another one.
for _ in 1 2 3; do
  port=$("$bin/http_bench_server" --free-port)
  rm -rf "$work/demo"
  "$bin/NuvoDemoData" "$work/demo" "$port" > /dev/null
  (cd "$work/demo" && exec "$bin/NuvoClientDaemon") > "$work/daemon.log" 2>&1 &
  pid=$!
  for _ in $(seq 600); do grep -q "微端部署地址: " "$work/daemon.log" && break; sleep 0.1; done
  grep -q "微端部署地址: http" "$work/daemon.log" && break
  wait "$pid" || true
  pid=""
done
[ -n "$pid" ] || { echo "the server did not start" >&2; exit 1; }
rss() { awk '/VmRSS/ {print $2}' "/proc/$pid/status"; }

echo "resident at the start: $(rss) kB"
for length in $LENGTHS; do
  wrk -t "$THREADS" -c 64 -d "${FLOOD_SECONDS}s" -s bench/index_flood.lua "http://127.0.0.1:$port/" -- "$length" \
    > "$work/wrk.txt"
  echo "tokens of $length characters, each new: $(grep -o '[0-9]* requests in [0-9.]*[a-z]*' "$work/wrk.txt")," \
       "resident $(rss) kB"
done

python3 - "$port" "$HALF_OPEN" "$TRIES" <<'PY'
import resource, selectors, socket, sys, time
port, half_open, tries = int(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3])
soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))
sel = selectors.DefaultSelector()
sources = [f"127.0.0.{i}" for i in range(2, 6)]
def open_one(n):
    s = socket.socket()
    s.bind((sources[n % len(sources)], 0))
    s.setblocking(False)
    try: s.connect(("127.0.0.1", port))
    except BlockingIOError: pass
    sel.register(s, selectors.EVENT_READ, n)
for n in range(half_open): open_one(n)
def reopen(timeout):
    # Every attack connection the server closed is opened again at once.
    for key, _ in sel.select(timeout):
        s = key.fileobj
        try: data = s.recv(4096)
        except OSError: data = b""
        if not data:
            sel.unregister(s); s.close(); open_one(key.data)
time.sleep(1); reopen(0)
req = b"GET /wclientdat/x/check-indexes HTTP/1.1\r\nHost: x\r\n\r\n"
served = 0
for i in range(tries):
    c = socket.socket(); c.settimeout(5)
    try:
        c.connect(("127.0.0.1", port)); c.sendall(req.replace(b"/x/", f"/n{i}/".encode()))
        if c.recv(12).startswith(b"HTTP/1.1 200"): served += 1
    except OSError: pass
    c.close()
    reopen(0.01)
print(f"{half_open} half-open connections from {len(sources)} addresses, reopened when closed: "
      f"{served} of {tries} newcomers served ({100.0 * served / tries:.1f} %)")
PY
