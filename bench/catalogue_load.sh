#!/usr/bin/env bash
# A catalogue load pass (read, zlib level 2, store) over the same files with one pool thread and
# with one per core, and gzip -2 over them on one thread, in the same run.
# Usage: bench/catalogue_load.sh [MEGABYTES] (default 256).
set -euo pipefail
cd "$(dirname "$0")/.."
mb="${1:-256}"
cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j "$(nproc)" --target catalogue_pass >/dev/null
data="${BENCH_DATA:-/tmp/nuvo-catalogue-bench-$mb}"
[ -d "$data/Map" ] || build/catalogue_pass generate "$data" "$mb"
cat "$data"/Map/* "$data"/Wav/* > /dev/null  # every run starts from the page cache

# Best of three passes with THREADS pool threads (0: one per core); prints each, returns MB/s.
best_pass() {
  local best="" line rate
  for i in 1 2 3; do
    line=$(build/catalogue_pass load "$data" "$1")
    echo "$line" >&2
    rate=$(echo "$line" | sed -E 's/.* ([0-9.]+) MB\/s/\1/')
    best=$(echo "$best $rate" | awk '{print ($1 == "" || $2 > $1) ? $2 : $1}')
  done
  echo "$best"
}
one=$(best_pass 1)
all=$(best_pass 0)

bytes=$(cat "$data"/Map/* "$data"/Wav/* | wc -c)
start=$(date +%s.%N)
for f in "$data"/Map/* "$data"/Wav/*; do gzip -2 -c "$f" > /dev/null; done
end=$(date +%s.%N)
gz=$(awk -v b="$bytes" -v s="$start" -v e="$end" 'BEGIN { printf "%.1f", b / 1048576 / (e - s) }')
echo "gzip -2: $bytes bytes, $gz MB/s"
awk -v o="$one" -v a="$all" -v g="$gz" -v n="$(nproc)" 'BEGIN {
  printf "load pass, one thread: %.1f MB/s; %d cores: %.1f MB/s (%.2fx)\n", o, n, a, a / o
  printf "load pass (all cores) / gzip -2 throughput: %.2f\n", a / g }'
