#!/usr/bin/env bash
# Compares a catalogue load pass (read, zlib level 2, store) with gzip -2 over the same files, one
# thread each, in the same run. Usage: bench/catalogue_load.sh [MEGABYTES] (default 256).
set -euo pipefail
cd "$(dirname "$0")/.."
mb="${1:-256}"
cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j "$(nproc)" --target catalogue_pass >/dev/null
data="${BENCH_DATA:-/tmp/nuvo-catalogue-bench-$mb}"
[ -d "$data/Map" ] || build/catalogue_pass generate "$data" "$mb"
cat "$data"/Map/* "$data"/Wav/* > /dev/null  # both runs start from the page cache

best=""
for i in 1 2 3; do
  line=$(build/catalogue_pass load "$data")
  echo "$line"
  rate=$(echo "$line" | sed -E 's/.* ([0-9.]+) MB\/s/\1/')
  best=$(echo "$best $rate" | awk '{print ($1 == "" || $2 > $1) ? $2 : $1}')
done

bytes=$(cat "$data"/Map/* "$data"/Wav/* | wc -c)
start=$(date +%s.%N)
for f in "$data"/Map/* "$data"/Wav/*; do gzip -2 -c "$f" > /dev/null; done
end=$(date +%s.%N)
gz=$(awk -v b="$bytes" -v s="$start" -v e="$end" 'BEGIN { printf "%.1f", b / 1048576 / (e - s) }')
echo "gzip -2: $bytes bytes, $gz MB/s"
awk -v p="$best" -v g="$gz" 'BEGIN { printf "load pass / gzip -2 throughput: %.2f\n", p / g }'
