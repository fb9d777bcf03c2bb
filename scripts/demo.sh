#!/usr/bin/env bash
# Runs FernPoint against the reference helper on private buses, touching nothing of the machine:
#   scripts/demo.sh
# Builds in build-demo/ (Release), starts a private system bus and a private session bus, serves
# the reference helper on the system one without polkit, and starts the application with a
# temporary home in which the helper already counts as installed (no installation is attempted).
# On the private session bus a status area and a notification server stand in for the desktop's
# (scripts/demo_desktop.py): the demo prints what the tray shows and each notice, and the user's
# own panel and notices are left alone. Without a display it runs FernPoint under xvfb-run, uses
# it through its tray menu, then saves screenshots of the window's main states.
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
if [ "$headless" = 1 ]; then targets+=(fernpoint-screens fernpointctl); fi
cmake --build "$build" --target "${targets[@]}" -j 2

work=$(mktemp -d /tmp/fernpoint-demo-XXXXXX)
pids=()
cleanup() {
  for (( i=${#pids[@]}-1; i>=0; i-- )); do
    # A program started through setsid leads its own group: the X server goes with xvfb-run.
    kill -- "-${pids[$i]}" 2>/dev/null || kill "${pids[$i]}" 2>/dev/null || true
    wait "${pids[$i]}" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# Runs a command every tenth of a second until it succeeds; gives up after <tries> with <message>.
wait_until() {
  local tries=$1 message=$2; shift 2
  for _ in $(seq "$tries"); do
    "$@" && return
    sleep 0.1
  done
  echo "demo: $message" >&2
  exit 1
}

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
  wait_until 50 "the private $name bus did not start" test -s "$work/$name.address"
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
mkdir -m 0700 "$XDG_RUNTIME_DIR"
printf '[General]\nfernpoint.helper.installedVersion=%s\n' "$("$build/bin/fernpoint-helper" --version)" \
  >"$XDG_CONFIG_HOME/FernPoint/fernpoint.conf"
# Networks used before: the newest fills in the window's Network ID; the older one was mistyped
# (an o where a 0 belongs), and the helper refuses it.
demo_network=8056c2e21c000001
mistyped_network=8056c2e21c0000o2
mkdir -p "$XDG_DATA_HOME/FernPoint"
used_at=$(( $(date +%s) - 978307200 ))
printf '[{"networkID":"%s","name":"","desc":"","lastUsedAt":%s},{"networkID":"%s","name":"","desc":"","lastUsedAt":%s}]' \
  "$demo_network" "$used_at" "$mistyped_network" "$(( used_at - 86400 ))" \
  >"$XDG_DATA_HOME/FernPoint/networks.json"

export DBUS_SYSTEM_BUS_ADDRESS=$system_bus
export DBUS_SESSION_BUS_ADDRESS=$session_bus

# The helper's bus name as this build knows it.
helper_bus_name=$(sed -n 's/.*kBusName{"\(.*\)"}.*/\1/p' "$build/contract/HelperContract.h")
"$build/bin/fernpoint-helper" --no-authorization </dev/null &
pids+=($!)
helper_serves() {
  dbus-send --bus="$system_bus" --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
    org.freedesktop.DBus.NameHasOwner "string:$helper_bus_name" 2>/dev/null | grep 'boolean true' >/dev/null
}
wait_until 50 "the helper did not take its bus name" helper_serves
echo "demo: helper serving on the private system bus $system_bus"

# The desktop's status area and notification server, on the private session bus only. The
# system's Python, which has the Debian modules (python3-dbus, python3-gi, python3-dbusmock).
python=/usr/bin/python3
"$python" -m dbusmock --session org.kde.StatusNotifierWatcher /StatusNotifierWatcher \
  org.kde.StatusNotifierWatcher </dev/null >/dev/null &
pids+=($!)
"$python" -m dbusmock --session --template notification_daemon </dev/null >/dev/null &
pids+=($!)
host_input=/dev/null
if [ "$headless" = 0 ] && [ -t 0 ]; then host_input=/dev/stdin; fi
"$python" "$root/scripts/demo_desktop.py" host "$work/host.ready" <"$host_input" &
pids+=($!)
wait_until 100 "the demo's status area did not start" test -e "$work/host.ready"

if [ "$headless" = 1 ]; then
  echo "demo: no display; running FernPoint under Xvfb and using it through its tray menu"
  QT_QPA_PLATFORM=xcb setsid xvfb-run -a -s "-screen 0 1280x1024x24" "$build/bin/fernpoint" \
    </dev/null &
  pids+=($!)
  app=$!
  # In the background and waited for, so that Ctrl+C stops the demo at once.
  "$python" "$root/scripts/demo_desktop.py" drive "$build/bin/fernpointctl" &
  pids+=($!)
  wait "${pids[-1]}"
  wait "$app"

  shots="$root/build-demo/screens"
  rm -rf "$shots"
  echo "demo: rendering the window's main states under Xvfb"
  QT_QPA_PLATFORM=xcb setsid xvfb-run -a -s "-screen 0 1280x1024x24" \
    "$build/bin/fernpoint-screens" --check --out "$shots" </dev/null &
  pids+=($!)
  status=0
  wait "${pids[-1]}" || status=$?
  echo "demo: screenshots of the window are in $shots"
  exit "$status"
else
  echo "demo: starting FernPoint with Network ID $demo_network filled in: press Connect"
  echo "demo: the tray lives in the demo's own status area, not on your panel: its changes and"
  echo "demo: FernPoint's notices are printed here, and typing a menu entry's number and Enter"
  echo "demo: clicks it (closing the window only hides it). Quit with Ctrl+Q or the tray menu."
  "$build/bin/fernpoint" &
  pids+=($!)
  wait "${pids[-1]}"
fi
