#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running and testing Norva need, when missing.
set -euo pipefail

packages=(
  build-essential cmake pkg-config ccache
  qtbase5-dev qtwebengine5-dev libqt5webchannel5-dev qtmultimedia5-dev libqt5multimedia5-plugins libqt5sql5-sqlite
  libqt5x11extras5-dev qttools5-dev qttools5-dev-tools libxcb1-dev libxcb-keysyms1-dev
  xvfb xauth trayer xdotool x11-utils gstreamer1.0-plugins-good python3 curl fonts-wqy-microhei
  dpkg-dev desktop-file-utils appstream clang libclang-rt-14-dev g++-mingw-w64-x86-64-posix
  qtkeychain-qt5-dev libssl-dev libsecret-1-0 gnome-keyring libsecret-tools dbus
  at-spi2-core python3-pyatspi lintian man-db
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

sudo=()
[[ $(id -u) -ne 0 ]] && sudo=(sudo)
echo "Installing: ${missing[*]}"
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
