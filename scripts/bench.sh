#!/bin/sh
# Builds fernpoint-bench in Release and runs it. Usage: scripts/bench.sh [build folder]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build-bench"}
generator=
if command -v ninja >/dev/null 2>&1; then
  generator="-G Ninja"
fi
# shellcheck disable=SC2086
cmake -S "$root" -B "$build" $generator -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target fernpoint-bench -j 2
bench=$(find "$build" -type f -name fernpoint-bench -perm -u+x | head -n 1)
"$bench"
