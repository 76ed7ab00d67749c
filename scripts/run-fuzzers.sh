#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build for a bounded time each; fails on the first finding.
set -euo pipefail
dir="$1"; seconds="${2:-30}"
shopt -s nullglob
found=0
for bin in "$dir"/*_fuzz; do
  found=1
  name=$(basename "$bin")
  corpus="fuzz/corpus/$name"
  work=$(mktemp -d)
  [ -d "$corpus" ] && cp -r "$corpus"/. "$work"/ 2>/dev/null || true
  echo "fuzzing $name for ${seconds}s"
  (cd "$work" && "$OLDPWD/$bin" -max_total_time="$seconds" -rss_limit_mb=2048 -print_final_stats=1 . 2>&1 | tail -n 5)
  rm -rf "$work"
done
[ "$found" = 1 ] || echo "no fuzz targets"
