#!/usr/bin/env bash
# Builds FernPoint and runs every test, on a fresh Debian 12 machine as on a developer's.
#   scripts/test.sh              installs missing Debian packages, builds in build/, runs all tests
#   scripts/test.sh --sanitize   the same with AddressSanitizer, UndefinedBehaviorSanitizer and
#                                LeakSanitizer, in build-asan/
# Root (or sudo) is needed only when Debian packages are missing.
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=build
sanitize=OFF
for arg in "$@"; do
  case "$arg" in
    --sanitize) build_dir=build-asan; sanitize=ON ;;
    *) echo "usage: $0 [--sanitize]" >&2; exit 64 ;;
  esac
done

./scripts/setup-debian.sh

cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DFERNPOINT_WERROR=ON \
      -DFERNPOINT_SANITIZE="$sanitize"
cmake --build "$build_dir" -j "$(nproc)"

if [ "$sanitize" = ON ]; then
  # Full stacks for allocations: Qt is built without frame pointers, and a leak inside it can only
  # be told apart from one of ours by the Qt function that made it.
  export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1:fast_unwind_on_malloc=0:suppressions=$PWD/scripts/asan.supp"
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0"
fi

# A short fuzzing run of every fuzz target first (a separate clang build), so that a regression
# in a parser surfaces here; scripts/fuzz.sh runs them longer.
if [ "$sanitize" = OFF ]; then
  ./scripts/fuzz.sh "${FERNPOINT_FUZZ_SECONDS:-20}"
fi

# Every test starts the services it needs (private dbus-daemons, Xvfb) and stops them itself.
ctest --test-dir "$build_dir" --output-on-failure -j 2
