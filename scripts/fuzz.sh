#!/usr/bin/env bash
# Builds the fuzz targets with clang and libFuzzer and runs each for a bounded time.
#   scripts/fuzz.sh [SECONDS_PER_TARGET] [TARGET...]    (default: 20 seconds, every target)
# New inputs found go to build-fuzz/corpus/<target>; crashes to build-fuzz/artifacts/. Copy a
# crashing input into fuzz/corpus/<target>/ once it is fixed, so that it stays checked.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-20}
shift || true
build_dir=build-fuzz

CC=clang-14 CXX=clang++-14 cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DFERNPOINT_FUZZ=ON -DFERNPOINT_BUILD_TESTS=OFF >/dev/null

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=()
  for dir in fuzz/corpus/*/; do targets+=("$(basename "$dir")"); done
fi

cmake --build "$build_dir" -j "$(nproc)" --target "${targets[@]/#/fuzz_}"

mkdir -p "$build_dir/artifacts"
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TZ=UTC
status=0
for target in "${targets[@]}"; do
  work="$build_dir/corpus/$target"
  mkdir -p "$work"
  rm -f "$build_dir/artifacts/$target-"*
  log="$build_dir/fuzz-$target.log"
  if "$build_dir/bin/fuzz_$target" -max_total_time="$seconds" -print_final_stats=1 \
       -artifact_prefix="$build_dir/artifacts/$target-" "$work" "fuzz/corpus/$target" >"$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    echo "fuzz: $target: ${runs:-?} runs in ${seconds}s, no fault"
  else
    echo "fuzz: $target found a fault (inputs in $build_dir/artifacts/, log in $log):" >&2
    grep -E 'ERROR|SUMMARY|check failed' "$log" | head -5 >&2
    status=1
  fi
done
exit $status
