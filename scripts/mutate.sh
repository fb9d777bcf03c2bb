#!/usr/bin/env bash
# Mutation check: applies each small fault in scripts/mutants/ to the source tree, one at a time,
# rebuilds incrementally, runs only the tests that own the code, and prints which faults the tests
# caught (killed) and which they missed (survived).
#   scripts/mutate.sh                     every mutant, in build-mutate/
#   scripts/mutate.sh NAME...             only these (file names with or without .patch)
#   BUILD_DIR=dir scripts/mutate.sh       another build folder
# A mutant is a patch with two header lines before the diff:
#   tests: <CTest regular expression of the tests that own the code>
#   fault: <the mistake, in words>
# Not part of the test command: it is a tool, like the benchmarks.
set -uo pipefail
cd "$(dirname "$0")/.."

build_dir=${BUILD_DIR:-build-mutate}
mutants=()
if [ $# -gt 0 ]; then
  for name in "$@"; do mutants+=("scripts/mutants/${name%.patch}.patch"); done
else
  mutants=(scripts/mutants/*.patch)
fi

if [ ! -f "$build_dir/build.ninja" ]; then
  cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null || exit 1
fi
echo "mutate: building the unchanged tree in $build_dir"
cmake --build "$build_dir" -j "$(nproc)" >/dev/null || { echo "mutate: the unchanged tree does not build"; exit 1; }

applied=""
revert() { [ -n "$applied" ] && git apply -R "$applied" && applied=""; }
trap 'revert; exit 130' INT TERM

killed=0 survived=0 broken=0
rows=()
for mutant in "${mutants[@]}"; do
  name=$(basename "$mutant" .patch)
  tests=$(sed -n 's/^tests: //p' "$mutant" | head -n 1)
  fault=$(sed -n 's/^fault: //p' "$mutant" | head -n 1)
  if [ -z "$tests" ] || ! ctest --test-dir "$build_dir" -N -R "$tests" | grep -c 'Test *#' >/dev/null; then
    result="no tests"; broken=$((broken + 1))
  elif ! git apply "$mutant" 2>/dev/null; then
    result="does not apply"; broken=$((broken + 1))
  else
    applied=$mutant
    if ! cmake --build "$build_dir" -j "$(nproc)" >/dev/null 2>&1; then
      result="does not build"; broken=$((broken + 1))
    elif ctest --test-dir "$build_dir" -R "$tests" -j 2 --timeout 180 --stop-on-failure \
           >"$build_dir/mutant-$name.log" 2>&1; then
      result="SURVIVED"; survived=$((survived + 1))
    else
      result="killed"; killed=$((killed + 1))
    fi
    revert
  fi
  rows+=("$(printf '%-9s %-40s %s' "$result" "$name" "$fault")")
  echo "${rows[-1]}"
done
# Leave the build matching the unchanged tree.
cmake --build "$build_dir" -j "$(nproc)" >/dev/null 2>&1

echo
echo "result    mutant                                   fault"
printf '%s\n' "${rows[@]}"
total=$((killed + survived))
echo
if [ "$total" -gt 0 ]; then
  echo "mutation score: $killed of $total killed ($((killed * 100 / total))%); $broken not run"
fi
[ "$survived" -eq 0 ] && [ "$broken" -eq 0 ]
