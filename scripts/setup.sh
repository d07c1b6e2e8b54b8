#!/usr/bin/env bash
# Installs what building and testing Kelvarin needs on Debian 12. Skips apt when
# everything is already there, so repeated runs are fast.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev libgl-dev fonts-dejavu-core
  libfmt-dev libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev llvm
  binutils file make python3
  xvfb openbox xdotool wmctrl x11-utils
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update
$SUDO apt-get install -y --no-install-recommends "${missing[@]}"
