#!/usr/bin/env bash
# Installs the Debian 12 packages FernPoint needs to build, test and run.
# Idempotent: packages already present are left alone. Needs root (or sudo).
set -euo pipefail

packages=(
  # build
  build-essential cmake ninja-build pkg-config clang-format
  # toolkit and translations
  qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins qt6-svg-dev qt6-tools-dev qt6-tools-dev-tools qt6-l10n-tools libgl-dev libx11-dev
  # D-Bus, admin authorization; systemd-analyze scores the helper's unit
  dbus dbus-daemon pkexec polkitd systemd
  # tests: private buses, fake polkit, virtual display, fonts for screenshots
  python3 python3-dbus python3-gi python3-dbusmock xvfb xauth x11-utils imagemagick fonts-noto-cjk fonts-dejavu-core
  # the accessibility test: the AT-SPI bus and registry, and their Python client
  at-spi2-core python3-pyatspi
  # the Debian package (scripts/package.sh) and its test
  dpkg-dev lintian
  # fuzzing and sanitizers
  clang-14 libfuzzer-14-dev libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all ${#packages[@]} packages already installed"
  exit 0
fi

echo "setup: installing ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
echo "setup: done"
