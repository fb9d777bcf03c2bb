#!/usr/bin/env bash
# The Debian package built from this build folder: lintian's verdict, and an install
# and a purge in a throwaway dpkg root whose system bus is a private dbus-daemon.
#   tst_package.sh <source dir> <build dir>      exits 77 (skipped) with the reason when it cannot run
set -euo pipefail
source_dir=$1 build_dir=$2
skip() { echo "SKIP: $*"; exit 77; }
fail() { echo "FAIL: $*" >&2; exit 1; }
for tool in dpkg-deb dpkg-shlibdeps lintian dbus-daemon dbus-monitor; do
  command -v "$tool" >/dev/null || skip "$tool is missing (scripts/setup-debian.sh installs it)"
done
# dpkg installs only as root; a user namespace makes an ordinary user root for this test alone.
if [ "$(id -u)" -ne 0 ]; then
  reason=$(unshare --map-root-user true 2>&1) || skip "not root, and unshare --map-root-user failed: $reason"
  exec unshare --map-root-user "$0" "$@"
fi
work=$(mktemp -d) bus_pid=
trap 'kill $bus_pid $(jobs -p) 2>/dev/null || true; rm -rf "$work"' EXIT

"$source_dir/scripts/package.sh" "$build_dir" "$work" >"$work/log" 2>&1 || { cat "$work/log"; fail "scripts/package.sh failed"; }
deb=$(tail -n 1 "$work/log")
# Owners, modes and dependencies are lintian's to judge.
lintian "$deb" 2>&1 | tee "$work/lintian"
! grep -q '^E:' "$work/lintian" || fail "lintian reports errors"

# An empty dpkg database, and a bus where the maintainer scripts look for the root's system bus.
root=$work/root bus=unix:path=$work/root/run/dbus/system_bus_socket
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" "$root/run/dbus"
: >"$root/var/lib/dpkg/status"
bus_pid=$(dbus-daemon --session --fork --print-pid --address="$bus")
dbus-monitor --address "$bus" >"$work/monitor" 2>&1 &
for _ in $(seq 50); do [ -s "$work/monitor" ] && break; sleep 0.1; done
# Runs dpkg on the root, then waits until the bus has been asked to reload <reloads> times in all.
dpkg_step() {
  local reloads=$1; shift
  dpkg --root="$root" --force-script-chrootless --force-depends --log=/dev/null "$@" >"$work/log" 2>&1 ||
    { cat "$work/log"; fail "dpkg $* failed"; }
  for _ in $(seq 50); do
    [ "$(grep -c member=ReloadConfig "$work/monitor")" -ge "$reloads" ] && return; sleep 0.1
  done
  fail "the bus was not reloaded after dpkg $*"
}
# A copy that the install step put in place earlier.
"$build_dir/bin/fernpoint-helper" --install --root "$root" >"$work/log" 2>&1 || { cat "$work/log"; fail "--install failed"; }
dpkg_step 1 --install "$deb"
# The bus and systemd start the packaged program, not the copy --install puts into /usr/local.
programs=$(sed -n 's/^Exec\(Start\)\?=//p' "$root"/usr/share/dbus-1/system-services/*.service \
  "$root"/usr/lib/systemd/system/*.service | sort -u)
[ "$programs" = /usr/libexec/fernpoint/fernpoint-helper ] || fail "the system files start $programs"
# The install step does not write over the package's files (the polkit action shares its path);
# removing the local copy leaves the package whole.
packaged() { dpkg --root="$root" -L fernpoint | while read -r f; do [ -f "$root$f" ] && echo "$f"; done; }
files=$(packaged)
! "$root/usr/libexec/fernpoint/fernpoint-helper" --install --root "$root" 2>"$work/log" || fail "--install ran"
grep -q 'package manager' "$work/log" || fail "--install: $(cat "$work/log")"
"$root/usr/libexec/fernpoint/fernpoint-helper" --uninstall --root "$root" >"$work/log" 2>&1 || { cat "$work/log"; fail "--uninstall failed"; }
[ "$files" = "$(packaged)" ] || fail "the install step changed the packaged files"
[ ! -e "$root/usr/local/libexec/fernpoint" ] || fail "--uninstall left the local copy"
dpkg_step 2 --purge fernpoint
left=$(cd "$root" && find . -mindepth 1 -not -type d -not -path './var*' -not -path './run*')
[ -z "$left" ] || fail "left behind after the purge: $left"
echo "PASS: $(basename "$deb"), $(stat -c %s "$deb") bytes"
