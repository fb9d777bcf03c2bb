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
for target in "${targets[@]}"; do
  work="$build_dir/corpus/$target"
  mkdir -p "$work"
  rm -f "$build_dir/artifacts/$target-"*
  echo "fuzz: $target for ${seconds}s"
  "$build_dir/fuzz/fuzz_$target" -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix="$build_dir/artifacts/$target-" "$work" "fuzz/corpus/$target" 2>&1 |
    grep -E '^(stat::number_of_executed_units|stat::new_units_added|==[0-9]+==ERROR|SUMMARY|.*check failed)' || true
  if ls "$build_dir/artifacts/$target-"* >/dev/null 2>&1; then
    echo "fuzz: $target found a fault; inputs in $build_dir/artifacts/" >&2
    exit 1
  fi
done
echo "fuzz: no faults"
