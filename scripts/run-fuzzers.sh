#!/usr/bin/env bash
# Runs the fuzz targets of a fuzz build (DIR/*_fuzz) with their seed corpora (fuzz/corpus/<target>),
# dictionaries (fuzz/<target>.dict) and extra libFuzzer flags (fuzz/<target>.options).
#   run-fuzzers.sh DIR [SECONDS]        bounded run: each target SECONDS (default 30) on one core;
#                                       the corpora are left as checked in
#   run-fuzzers.sh --long DIR [HOURS]   campaign: each target HOURS (default 1) on all cores with
#                                       -fork, then new inputs merged into fuzz/corpus/<target>
# A crashing, leaking, hanging or memory-hungry input is kept under fuzz/findings/<target>/ beside
# a .cmd file with the command that reproduces it; the run goes on with the next target and fails
# at the end, printing those commands. An input that was merely slow is kept the same way but does
# not fail the run.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

long=0
if [ "${1:-}" = --long ]; then long=1; shift; fi
dir=$(cd "$1" && pwd)
if [ "$long" = 1 ]; then limit=$(awk -v h="${2:-1}" 'BEGIN { printf "%d", h * 3600 }'); else limit="${2:-30}"; fi
jobs=$(nproc)
# While fuzzing: no allocation stacks and a small quarantine make each run several times cheaper.
# The commands kept with a finding run without these, so a reproduction reports in full.
export ASAN_OPTIONS="${ASAN_OPTIONS:-malloc_context_size=0:quarantine_size_mb=16}"
shopt -s nullglob

failed=()
bins=("$dir"/*_fuzz)
[ "${#bins[@]}" -gt 0 ] || { echo "no fuzz targets in $dir"; exit 0; }
for bin in "${bins[@]}"; do
  name=$(basename "$bin")
  corpus="$root/fuzz/corpus/$name"
  findings="$root/fuzz/findings/$name"
  mkdir -p "$corpus" "$findings"
  work=$(mktemp -d)
  # Absolute paths throughout: some targets change directory while an input runs.
  args=(-rss_limit_mb=2048 -timeout=60 -max_total_time="$limit" -print_final_stats=1 -artifact_prefix="$findings/")
  [ -f "$root/fuzz/$name.dict" ] && args+=(-dict="$root/fuzz/$name.dict")
  # A target's own flags, one per line: for instance a length cap where its checks grow with the
  # square of the input.
  [ -f "$root/fuzz/$name.options" ] && while read -r flag; do args+=("$flag"); done < <(grep -v '^#' "$root/fuzz/$name.options" | grep .)
  before=$(ls "$findings" | sort)
  status=0
  if [ "$long" = 1 ]; then
    echo "fuzzing $name for ${limit}s on $jobs cores"
    mkdir "$work/new"
    (cd "$work" && "$bin" "${args[@]}" -fork="$jobs" "$work/new" "$corpus" >"$work/log" 2>&1) || status=$?
    grep -E '^#[0-9]+: cov:' "$work/log" | tail -n 1 || true
    # Keeps only the new inputs that add coverage to the checked-in corpus.
    (cd "$work" && "$bin" -merge=1 -rss_limit_mb=2048 -timeout=60 "$corpus" "$work/new" >"$work/merge.log" 2>&1) ||
      echo "merging into $corpus failed: see $work/merge.log"
    grep -E 'MERGE-OUTER: [0-9]+ new files' "$work/merge.log" || true
  else
    echo "fuzzing $name for ${limit}s"
    mkdir "$work/corpus"
    cp -r "$corpus"/. "$work/corpus"/
    (cd "$work" && "$bin" "${args[@]}" "$work/corpus" >"$work/log" 2>&1) || status=$?
    grep -E '^stat::(number_of_executed_units|average_exec_per_sec)|^Done' "$work/log" || true
  fi
  found=0
  for input in $(comm -13 <(echo "$before") <(ls "$findings" | grep -v '\.cmd$' | sort)); do
    cmd="$bin -rss_limit_mb=2048 -timeout=60 $findings/$input"
    echo "$cmd" >"$findings/$input.cmd"
    # An input over 10 s but under the timeout is kept for a look, not failed: a stalled machine
    # makes any input slow, and a real hang is caught by the timeout.
    case "$input" in
      slow-unit-*) echo "slow input kept (not a failure): $cmd" ;;
      *) failed+=("$cmd"); found=1 ;;
    esac
  done
  if [ "$status" != 0 ] && [ "$found" = 0 ]; then
    tail -n 30 "$work/log"
    echo "(whole log: $work/log)"
    failed+=("$name: libFuzzer ended with status $status and kept no input (log above)")
  elif [ "$found" = 1 ]; then
    grep -E -A 12 '^==[0-9]+==ERROR|deadly signal|^SUMMARY' "$work/log" | head -n 40 || true
  fi
  rmdir "$findings" 2>/dev/null || true
  [ "$status" = 0 ] && [ "$found" = 0 ] && rm -rf "$work"
done

if [ "${#failed[@]}" -gt 0 ]; then
  echo "FUZZING FOUND SOMETHING; reproduce with:"
  printf '  %s\n' "${failed[@]}"
  exit 1
fi
echo "no findings"
