#!/usr/bin/env bash
# Installs the Debian packages Kestrava needs to build, test and run. Idempotent.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  qt6-base-dev qt6-base-dev-tools libqt6svg6 qt6-qpa-plugins libgl-dev
  libxkbcommon-x11-0 libxcb-cursor0 libxcb-icccm4 libxcb-image0 libxcb-keysyms1
  libxcb-randr0 libxcb-render-util0 libxcb-shape0 libxcb-xinerama0 libxcb-xkb1
  fonts-dejavu-core
  libgtest-dev libgmock-dev googletest libbenchmark-dev nlohmann-json3-dev
  clang clang-format libclang-rt-14-dev
  libsystemd-dev systemd dbus dbus-user-session
  debootstrap debian-archive-keyring systemd-container e2fsprogs
  openssh-client openssh-server
  xvfb xdotool x11-utils imagemagick procps psmisc util-linux
  dpkg-dev file man-db desktop-file-utils appstream librsvg2-bin python3-debian lintian
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ "${#missing[@]}" -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
  export DEBIAN_FRONTEND=noninteractive
  # Another apt run (an unattended upgrade) may hold the lock for a while: wait for it, bounded.
  lock=(-o DPkg::Lock::Timeout=600)
  $SUDO apt-get "${lock[@]}" update -qq
  $SUDO apt-get "${lock[@]}" install -y -qq --no-install-recommends "${missing[@]}"
fi
