#!/usr/bin/env bash
# Installs what building and testing need on a fresh Debian 12 machine (as
# root). Safe to run again: it installs only what is missing.
set -euo pipefail

need=()
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "ok installed"; }

packages=(cmake ninja-build g++ libgtest-dev clang libclang-rt-14-dev
          g++-mingw-w64-i686 g++-mingw-w64-x86-64
          wine wine64 xvfb xauth fonts-wqy-zenhei mdbtools
          imagemagick python3)
for p in "${packages[@]}"; do have "$p" || need+=("$p"); done
# Node.js may come from elsewhere with npm inside it; Debian's npm would
# conflict with such a nodejs, so only commands that are missing are asked for.
command -v node >/dev/null || need+=(nodejs)
command -v npm >/dev/null || need+=(npm)
# The 32-bit Wine loader, for machines that can run 32-bit programs.
i386=0
dpkg --print-foreign-architectures | grep -qx i386 && i386=1
have wine32:i386 || need+=("wine32:i386")

if [ ${#need[@]} -gt 0 ]; then
  if [ "$(id -u)" != 0 ]; then
    echo "setup: missing packages (${need[*]}); run as root or install them" >&2
    exit 1
  fi
  [ $i386 = 1 ] || dpkg --add-architecture i386
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${need[@]}" >/dev/null
fi

# The independent MDB reader used as a test oracle.
if [ -f tests/node/package.json ] && [ ! -d tests/node/node_modules/mdb-reader ]; then
  (cd tests/node && npm install --no-audit --no-fund --silent)
fi
