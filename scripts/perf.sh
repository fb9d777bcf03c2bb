#!/bin/sh
# Builds FernPoint in Release (build-perf/) and prints its performance figures next to a minimal
# Qt window: start-up to the first frame, resident memory shown and hidden, idle wake-ups of the
# main thread, the main-thread cost of one status poll, and memory growth over 250,000 polls.
# Each row states its target, the floor it is measured against, and PASS or MISS.
# It runs its own private buses, reference helper and temporary home, and a virtual X server
# when there is no display. Takes about ten minutes (--compare: about fifteen).
#
# Usage: scripts/perf.sh [--quick] [--windows-only] [--connected] [--compare BUILD_DIR]
#   --compare BUILD_DIR  also measures the application of another build folder (built there
#                        first), side by side in the same run, so that a change's effect shows
#                        on a noisy machine
#   --connected          the windows run with the gateway connected, so that every status poll
#                        records the network in the history (by default it is stopped)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-perf"
generator=
if command -v ninja >/dev/null 2>&1; then
  generator="-G Ninja"
fi
passed=
while [ $# -gt 0 ]; do
  case "$1" in
    --compare)
      [ $# -ge 2 ] || { echo "usage: $0 [--quick] [--windows-only] [--connected] [--compare BUILD_DIR]" >&2; exit 64; }
      other=$(cd "$2" && pwd)
      cmake --build "$other" --target fernpoint -j 2
      # Its own harness adds its poll figures; an older tree may have none to build.
      cmake --build "$other" --target fernpoint-perf -j 2 || true
      passed="$passed --compare-app $other/bin/fernpoint --compare-harness $other/bin/fernpoint-perf"
      shift 2 ;;
    --quick|--windows-only|--connected)
      passed="$passed $1"
      shift ;;
    *)
      echo "usage: $0 [--quick] [--windows-only] [--connected] [--compare BUILD_DIR]" >&2
      exit 64 ;;
  esac
done
# shellcheck disable=SC2086
cmake -S "$root" -B "$build" $generator -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target fernpoint-perf -j 2
perf="$build/bin/fernpoint-perf"
[ -x "$perf" ] || perf=$(find "$build" -type f -name fernpoint-perf -perm -u+x | head -n 1)
if [ -n "${DISPLAY:-}" ]; then
  # shellcheck disable=SC2086
  exec "$perf" $passed
fi
# -noreset: the server stays up between the measured programs' connections.
# shellcheck disable=SC2086
exec xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" "$perf" $passed
