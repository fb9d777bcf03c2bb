#!/bin/sh
# Builds FernPoint in Release (build-perf/) and prints its performance figures next to a minimal
# Qt window: start-up to the first frame, resident memory shown and hidden, idle wake-ups of the
# main thread, the main-thread cost of one status poll, and memory growth over 250,000 polls.
# It runs its own private buses, reference helper and temporary home, and a virtual X server
# when there is no display. Takes about ten minutes. Usage: scripts/perf.sh [--quick]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-perf"
generator=
if command -v ninja >/dev/null 2>&1; then
  generator="-G Ninja"
fi
# shellcheck disable=SC2086
cmake -S "$root" -B "$build" $generator -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target fernpoint-perf -j 2
perf="$build/bin/fernpoint-perf"
[ -x "$perf" ] || perf=$(find "$build" -type f -name fernpoint-perf -perm -u+x | head -n 1)
if [ -n "${DISPLAY:-}" ]; then
  exec "$perf" "$@"
fi
# -noreset: the server stays up between the measured programs' connections.
exec xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" "$perf" "$@"
