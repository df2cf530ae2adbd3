#!/usr/bin/env bash
# Installs every Debian package that building, testing and running the agent needs.
# Safe to run again: apt-get skips what is already installed.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git curl
  clang lld libclang-rt-dev
  qt6-base-dev qt6-qpa-plugins libgl-dev
  libcurl4-openssl-dev libssl-dev libsqlite3-dev
  libboost-regex-dev rapidjson-dev
  libgtest-dev libgmock-dev googletest
  libcpp-httplib-dev
  fonts-wqy-microhei
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && { echo "install-deps: all packages present"; exit 0; }

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
