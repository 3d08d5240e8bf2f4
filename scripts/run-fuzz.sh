#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ into build-fuzz/ with clang (ASan + UBSan) and runs each
# one for the given number of seconds (default 60), starting from its seed corpus in
# fuzz/corpus/<target>. New inputs go to build-fuzz/corpus/<target>, findings to
# build-fuzz/findings/. Fails on the first crash, sanitizer report or broken rule.
#   scripts/run-fuzz.sh [seconds] [target...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
shift || true
build="$root/build-fuzz"

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S "$root/fuzz" -B "$build" -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  "${launcher[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null

targets=("$@")
if [[ ${#targets[@]} -eq 0 ]]; then
  for dir in "$root"/fuzz/corpus/*/; do targets+=("$(basename "$dir")"); done
fi

# Two frames per allocation, as in run-sanitizers.sh, so that lsan.supp means the same here.
export ASAN_OPTIONS="detect_leaks=1:malloc_context_size=2:abort_on_error=1:${ASAN_OPTIONS:-}"
# Qt's own allocations that it never frees (see lsan.supp) are no finding of ours.
export LSAN_OPTIONS="suppressions=$root/scripts/lsan.supp:print_suppressions=0:${LSAN_OPTIONS:-}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
printf '%-22s %12s %10s\n' target executions exec/s
for target in "${targets[@]}"; do
  mkdir -p "$build/corpus/$target" "$build/findings/$target"
  log="$build/$target.log"
  if ! "$build/$target" -max_total_time="$seconds" -print_final_stats=1 -timeout=10 \
      -artifact_prefix="$build/findings/$target/" \
      "$build/corpus/$target" "$root/fuzz/corpus/$target" >"$log" 2>&1; then
    tail -n 40 "$log" >&2
    echo "$target: FAILED, see $log and $build/findings/$target/" >&2
    exit 1
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n1)
  printf '%-22s %12s %10s\n' "$target" "$runs" "$rate"
done
