#!/usr/bin/env bash
# Memory under slow clients and the connection cap, against the headless server without a cap:
#   bench/slow_readers.sh          (READERS=2000 SECONDS_READING=15 IDLE=10000 to change the run)
# 1. READERS connections each ask for the largest wav (a 2 MB file of random bytes added to the
#    demo installation; half of them accept deflate) and read one kilobyte a second. Prints the
#    server's resident memory before, at its peak while they read, and once they are gone, next
#    to the data it holds (the stored streams and their coded forms).
# 2. IDLE keep-alive connections that each made one request wait; then a new client asks: it
#    must be served (at the cap the longest-idle connection makes room).
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
source bench/load_common.sh
READERS="${READERS:-2000}"
SECONDS_READING="${SECONDS_READING:-15}"
IDLE="${IDLE:-10000}"
build_targets e2e_daemon_nocap NuvoDemoData NuvoClient http_bench_server
bin="$top/build"
work=$(mktemp -d)
pid=""
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

port=$("$bin/http_bench_server" --free-port)
"$bin/NuvoDemoData" "$work/demo" "$port" > /dev/null
head -c $((2 << 20)) /dev/urandom > "$work/demo/big.wav"
echo "$work/demo/big.wav" >> "$work/demo/WavList.txt"
(cd "$work/demo" && exec "$bin/e2e_daemon_nocap") > "$work/daemon.log" 2>&1 &
pid=$!
for _ in $(seq 600); do grep -q "微端部署地址: http" "$work/daemon.log" && break; sleep 0.1; done
url="http://127.0.0.1:$port/wclientdat/"
"$bin/NuvoClient" targets "$work/demo" "$url" > "$work/targets.txt"
big=""; big_size=0
while read -r target; do
  size=$(curl -s -o /dev/null -w '%{size_download}' "http://127.0.0.1:$port$target")
  if [ "$size" -gt "$big_size" ]; then big=$target; big_size=$size; fi
done < <(grep '/4\.html$' "$work/targets.txt")
small=$(grep '/1\.html$' "$work/targets.txt" | head -n 1)
rss() { awk '/VmRSS/ {print $2}' "/proc/$pid/status"; }
echo "largest wav: $big_size bytes as stored (and about as much again in its coded form)"
echo "resident before: $(rss) kB"

python3 - "$port" "$big" "$READERS" "$SECONDS_READING" "$pid" <<'PY'
import resource, socket, sys, time
port, target, readers, seconds, pid = int(sys.argv[1]), sys.argv[2], int(sys.argv[3]), int(sys.argv[4]), sys.argv[5]
soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))
def rss():
    for line in open(f"/proc/{pid}/status"):
        if line.startswith("VmRSS"): return int(line.split()[1])
socks = []
for i in range(readers):
    s = socket.socket()
    s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
    s.connect(("127.0.0.1", port))
    coding = "Accept-Encoding: deflate\r\n" if i % 2 else ""
    s.sendall(f"GET {target} HTTP/1.1\r\nHost: x\r\n{coding}\r\n".encode())
    s.setblocking(False)
    socks.append(s)
peak, got = 0, 0
for _ in range(seconds):
    t = time.time()
    for s in socks:
        try: got += len(s.recv(1024))
        except BlockingIOError: pass
    peak = max(peak, rss())
    time.sleep(max(0, 1 - (time.time() - t)))
print(f"resident at peak with {readers} slow readers: {peak} kB ({got // readers} bytes read by each)")
for s in socks: s.close()
time.sleep(3)
print(f"resident after they left: {rss()} kB")
PY

python3 - "$port" "$small" "$IDLE" <<'PY'
import resource, socket, sys, time
port, target, idle = int(sys.argv[1]), sys.argv[2], int(sys.argv[3])
soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))
req = f"GET {target} HTTP/1.1\r\nHost: x\r\n\r\n".encode()
def ask(s):
    s.sendall(req)
    data = b""
    while b"\r\n\r\n" not in data:
        chunk = s.recv(65536)
        if not chunk: return None
        data += chunk
    head, _, rest = data.partition(b"\r\n\r\n")
    length = int([l.split(b":")[1] for l in head.split(b"\r\n") if l.lower().startswith(b"content-length")][0])
    while len(rest) < length: rest += s.recv(65536)
    return head.split(b"\r\n")[0].decode()
held = []
for i in range(idle):
    s = socket.socket()
    s.connect(("127.0.0.1", port))
    if ask(s) is None: break
    held.append(s)
print(f"{len(held)} idle keep-alive connections held")
s = socket.socket()
s.settimeout(5)
s.connect(("127.0.0.1", port))
try: status = ask(s)
except OSError as e: status = f"failed: {e}"
print(f"a new client: {status}")
PY
