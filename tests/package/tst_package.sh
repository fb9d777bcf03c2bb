#!/usr/bin/env bash
# The Debian package built from this build folder: its files, lintian's verdict, and an install
# and a purge in a throwaway dpkg root whose "system bus" is a private dbus-daemon.
#   tst_package.sh <source dir> <build dir>
# Exits 77 (skipped) with the reason when a tool or root rights cannot be had.
set -euo pipefail
source_dir=$1 build_dir=$2
skip() { echo "SKIP: $*"; exit 77; }
fail() { echo "FAIL: $*" >&2; exit 1; }

for tool in dpkg-deb dpkg-shlibdeps lintian dbus-daemon dbus-monitor dbus-send; do
  command -v "$tool" >/dev/null || skip "$tool is missing (scripts/setup-debian.sh installs it)"
done
# dpkg installs only as root; a user namespace gives an ordinary user that for this test alone.
if [ "$(id -u)" -ne 0 ]; then
  reason=$(unshare --map-root-user true 2>&1) || skip "not root, and unshare --map-root-user failed: $reason"
  exec unshare --map-root-user "$0" "$@"
fi

work=$(mktemp -d)
bus_pid= monitor_pid=
trap 'kill $monitor_pid $bus_pid 2>/dev/null || true; rm -rf "$work"' EXIT

"$source_dir/scripts/package.sh" "$build_dir" "$work" >"$work/package.log" 2>&1 ||
  { cat "$work/package.log"; fail "scripts/package.sh failed"; }
deb=$(tail -n 1 "$work/package.log")

# Every file, with its mode and owner: nothing missing, nothing extra (a test program, say).
expected="-rw-r--r-- root/root ./usr/lib/systemd/system/fernpoint-helper.service
-rw-r--r-- root/root ./usr/share/applications/com.lunacore.fernpoint.desktop
-rw-r--r-- root/root ./usr/share/dbus-1/system-services/com.lunacore.sdwan.fernpoint.helper.service
-rw-r--r-- root/root ./usr/share/dbus-1/system.d/com.lunacore.sdwan.fernpoint.helper.conf
-rw-r--r-- root/root ./usr/share/doc/fernpoint/changelog.gz
-rw-r--r-- root/root ./usr/share/doc/fernpoint/copyright
-rw-r--r-- root/root ./usr/share/icons/hicolor/scalable/apps/com.lunacore.fernpoint.svg
-rw-r--r-- root/root ./usr/share/man/man1/fernpoint.1.gz
-rw-r--r-- root/root ./usr/share/man/man1/fernpointctl.1.gz
-rw-r--r-- root/root ./usr/share/polkit-1/actions/com.lunacore.sdwan.fernpoint.helper.policy
-rwxr-xr-x root/root ./usr/bin/fernpoint
-rwxr-xr-x root/root ./usr/bin/fernpointctl
-rwxr-xr-x root/root ./usr/libexec/fernpoint/fernpoint-helper"
actual=$(dpkg-deb --contents "$deb" | awk '$1 !~ /^d/ { print $1, $2, $6 }' | LC_ALL=C sort)
[ "$actual" = "$expected" ] || fail "package files differ:$(diff <(echo "$expected") <(echo "$actual"))"
depends=$(dpkg-deb --field "$deb" Depends)
for library in libc6 libqt6core6 libqt6widgets6 libqt6dbus6; do
  [[ $depends == *"$library "* ]] || fail "Depends lacks $library: $depends"
done

lintian --fail-on error "$deb" >"$work/lintian.txt" 2>&1 || true
cat "$work/lintian.txt"
! grep -q '^E:' "$work/lintian.txt" || fail "lintian reports errors"

# A throwaway root with an empty dpkg database and a bus of its own at the root's socket path.
root=$work/root
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" "$root/run/dbus"
: >"$root/var/lib/dpkg/status"
bus=unix:path=$root/run/dbus/system_bus_socket
bus_pid=$(dbus-daemon --session --fork --print-pid --address="$bus")
dbus-monitor --address "$bus" >"$work/monitor.log" 2>&1 &
monitor_pid=$!
reloads_reach() {
  for _ in $(seq 50); do
    [ "$(grep -c 'member=ReloadConfig' "$work/monitor.log")" -ge "$1" ] && return 0
    sleep 0.1
  done
  fail "the maintainer scripts did not reload the bus ($1 reloads expected)"
}
for _ in $(seq 50); do [ -s "$work/monitor.log" ] && break; sleep 0.1; done

dpkg_root() { dpkg --root="$root" --force-script-chrootless --force-depends --log=/dev/null "$@"; }
dpkg_root --install "$deb" >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; fail "dpkg --install failed"; }
reloads_reach 1
# The bus and systemd start the program the package installed, not the one --install would put in
# /usr/local.
for line in "Exec=" "ExecStart="; do
  file=$(grep -l "^$line" "$root"/usr/share/dbus-1/system-services/*.service "$root"/usr/lib/systemd/system/*.service || true)
  program=$(sed -n "s|^$line||p" $file)
  [ "$program" = /usr/libexec/fernpoint/fernpoint-helper ] && [ -x "$root$program" ] ||
    fail "$line in $file names $program"
done

dpkg_root --purge fernpoint >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; fail "dpkg --purge failed"; }
reloads_reach 2
left=$(cd "$root" && find . -mindepth 1 -not -path './var*' -not -path './run*')
[ -z "$left" ] || fail "left behind after the purge: $left"
echo "PASS: $(basename "$deb"), $(stat -c %s "$deb") bytes"
