#!/usr/bin/env bash
# Installs what is missing, builds, and makes the Debian package build/package/norva_*.deb.
# Install it with: sudo apt install ./build/package/norva_1.7.5_amd64.deb
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"
rm -rf "$root/build/package"
cpack --config "$root/build/CPackConfig.cmake" -G DEB -B "$root/build/package"
rm -rf "$root/build/package/_CPack_Packages"
ls "$root"/build/package/*.deb
