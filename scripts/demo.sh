#!/usr/bin/env bash
# Runs FernPoint against the reference helper on private buses, touching nothing of the machine:
#   scripts/demo.sh
# Builds in build-demo/ (Release), starts a private system bus and a private session bus, serves
# the reference helper on the system one without polkit, and starts the application with a
# temporary home in which the helper already counts as installed (no installation is attempted).
# Without a display it runs under xvfb-run and saves screenshots of the window's main states.
# Everything it started is stopped when it exits.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build="$root/build-demo"

# On a fresh machine: the Debian packages first (asks for root only when something is missing).
./scripts/setup-debian.sh

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
headless=0
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then headless=1; fi
targets=(fernpoint fernpoint-helper)
if [ "$headless" = 1 ]; then targets+=(fernpoint-screens); fi
cmake --build "$build" --target "${targets[@]}" -j 2

work=$(mktemp -d /tmp/fernpoint-demo-XXXXXX)
pids=()
cleanup() {
  for (( i=${#pids[@]}-1; i>=0; i-- )); do
    kill "${pids[$i]}" 2>/dev/null || true
    wait "${pids[$i]}" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT INT TERM

# A private bus: its own configuration, its own socket, nothing of the machine's buses. Called in
# this shell (not in a command substitution) so that the daemon's pid reaches the cleanup.
start_bus() {
  local name=$1
  cat >"$work/$name.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>fernpoint-demo-$name</type>
  <listen>unix:path=$work/$name.socket</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
  </policy>
</busconfig>
CONF
  dbus-daemon --config-file="$work/$name.conf" --nofork --print-address=3 \
    3>"$work/$name.address" </dev/null >/dev/null &
  pids+=($!)
  for _ in $(seq 50); do
    [ -s "$work/$name.address" ] && break
    sleep 0.1
  done
  if [ ! -s "$work/$name.address" ]; then
    echo "demo: the private $name bus did not start" >&2
    exit 1
  fi
}

start_bus system
start_bus session
system_bus=$(head -n1 "$work/system.address")
session_bus=$(head -n1 "$work/session.address")

# The home of the demo: the helper counts as installed, so the application never runs pkexec.
export HOME="$work/home"
export XDG_CONFIG_HOME="$HOME/.config" XDG_DATA_HOME="$HOME/.local/share"
export XDG_CACHE_HOME="$HOME/.cache" XDG_STATE_HOME="$HOME/.local/state"
export XDG_RUNTIME_DIR="$work/runtime"
mkdir -p "$XDG_CONFIG_HOME/FernPoint" "$XDG_DATA_HOME" "$XDG_CACHE_HOME" "$XDG_STATE_HOME"
mkdir -m 0700 -p "$XDG_RUNTIME_DIR"
printf '[General]\nfernpoint.helper.installedVersion=%s\n' "$("$build/bin/fernpoint-helper" --version)" \
  >"$XDG_CONFIG_HOME/FernPoint/fernpoint.conf"
# One network used before, so that the window opens with its Network ID filled in.
demo_network=8056c2e21c000001
mkdir -p "$XDG_DATA_HOME/FernPoint"
printf '[{"networkID":"%s","name":"","desc":"","lastUsedAt":%s}]' "$demo_network" \
  "$(( $(date +%s) - 978307200 ))" >"$XDG_DATA_HOME/FernPoint/networks.json"

export DBUS_SYSTEM_BUS_ADDRESS=$system_bus
export DBUS_SESSION_BUS_ADDRESS=$session_bus

# The helper's bus name as this build knows it.
helper_bus_name=$(sed -n 's/.*kBusName{"\(.*\)"}.*/\1/p' "$build/contract/HelperContract.h")
"$build/bin/fernpoint-helper" --no-authorization </dev/null &
pids+=($!)
for _ in $(seq 50); do
  if dbus-send --bus="$system_bus" --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
       org.freedesktop.DBus.NameHasOwner "string:$helper_bus_name" 2>/dev/null |
     grep -q 'boolean true'; then
    break
  fi
  sleep 0.1
done
echo "demo: helper serving on the private system bus $system_bus"

if [ "$headless" = 1 ]; then
  shots="$root/build-demo/screens"
  rm -rf "$shots"
  echo "demo: no display; rendering the window under Xvfb"
  QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x1024x24" \
    "$build/bin/fernpoint-screens" --check --out "$shots" &
  pids+=($!)
  status=0
  wait "${pids[-1]}" || status=$?
  echo "demo: screenshots of the window are in $shots"
  exit "$status"
else
  echo "demo: starting FernPoint with Network ID $demo_network filled in: press Connect"
  echo "demo: quit with Ctrl+Q or the tray menu"
  "$build/bin/fernpoint" &
  pids+=($!)
  wait "${pids[-1]}"
fi
