#!/usr/bin/env bash
# Installs what a fresh Debian machine lacks to build and test Zelto.
#   tools/install-deps.sh           native build and tests, the sanitizer and fuzz builds (clang)
#   tools/install-deps.sh --windows also the mingw-w64 cross-build and Wine
set -euo pipefail

packages=(cmake ninja-build g++ make libgtest-dev libgmock-dev googletest libsqlite3-dev
          libcli11-dev nlohmann-json3-dev libstb-dev
          pkg-config libavcodec-dev libavformat-dev libavutil-dev libswscale-dev
          clang libclang-rt-14-dev)
if [[ "${1:-}" == "--windows" ]]; then
  packages+=(g++-mingw-w64-x86-64-posix wine wine64)
  # npm fetches the SQLite amalgamation for the Windows build; machines of
  # this kind carry their own Node.js, so only a machine without one takes Debian's.
  command -v npm >/dev/null || packages+=(npm)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo=""
  [[ $(id -u) -ne 0 ]] && sudo=sudo
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
