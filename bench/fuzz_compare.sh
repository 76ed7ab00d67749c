#!/usr/bin/env bash
# How many inputs a second a fuzz target runs now against the same target at an older commit, both
# at once on this machine, on copies of the checked-in corpus with the same seed and dictionary:
#   bench/fuzz_compare.sh [TARGET] [BASE_COMMIT] [SECONDS]
# (defaults: library_fuzz, 77882da (files written per input), 60). The base is built in a scratch
# worktree; the current target in build-fuzz/ (as ./test.sh fuzz builds it). Both run with the
# fuzzing ASAN_OPTIONS of scripts/run-fuzzers.sh unless ASAN_OPTIONS is set.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
target=${1:-library_fuzz}
base=${2:-77882da}
seconds=${3:-60}
export ASAN_OPTIONS="${ASAN_OPTIONS:-malloc_context_size=0:quarantine_size_mb=16}"

work=$(mktemp -d)
cleanup() {
  git -C "$top" worktree remove --force "$work/base" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

fuzz_flags=(-G Ninja -DNUVO_FUZZ=ON -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++)
git worktree add -q --detach "$work/base" "$base"
cmake -S "$work/base" -B "$work/base/build-fuzz" "${fuzz_flags[@]}" >/dev/null
cmake --build "$work/base/build-fuzz" -j2 --target "$target" >/dev/null
cmake -S . -B build-fuzz "${fuzz_flags[@]}" -DCMAKE_CXX_COMPILER_LAUNCHER= -DCMAKE_C_COMPILER_LAUNCHER= >/dev/null
cmake --build build-fuzz -j2 --target "$target" >/dev/null

dict=()
[ -f "fuzz/$target.dict" ] && dict=(-dict="$top/fuzz/$target.dict")
run() {  # run NAME BINARY
  mkdir -p "$work/$1"
  cp -r "fuzz/corpus/$target/." "$work/$1/"
  (cd "$work" && "$2" -seed=7 -max_total_time="$seconds" -print_final_stats=1 -rss_limit_mb=2048 \
     "${dict[@]}" "$work/$1" >"$work/$1.log" 2>&1)
}
run base "$work/base/build-fuzz/$target" &
run now "$top/build-fuzz/$target"
wait

stat() { awk -v k="stat::$2:" '$1 == k {print $2}' "$work/$1.log"; }
printf '%-6s %14s %10s %s\n' "" executions "per second" "coverage at the end"
for who in base now; do
  printf '%-6s %14s %10s %s\n' "$who" "$(stat $who number_of_executed_units)" "$(stat $who average_exec_per_sec)" \
    "$(grep -E '^#[0-9]+[[:space:]]+DONE' "$work/$who.log" | grep -oE 'cov: [0-9]+ ft: [0-9]+')"
done
awk -v a="$(stat base average_exec_per_sec)" -v b="$(stat now average_exec_per_sec)" \
  'BEGIN { if (a > 0) printf "now / base: %.2f\n", b / a }'
