#!/usr/bin/env bash
# Installs what building and testing need on a fresh Debian 12 machine (as
# root). Safe to run again: it installs only what is missing.
#
# Package mirrors are sometimes half-synced: an index of one architecture or
# suite fails to download. A failed `apt-get update` is retried once and then
# tolerated; only a package that is needed and cannot be installed fails the
# set-up, by name. 32-bit Wine is asked for only where the kernel runs 32-bit
# code; elsewhere the 32-bit programs run in an emulated i386 root
# (scripts/i386-root.sh), so nothing of i386 is installed on the machine.
set -uo pipefail
cd "$(dirname "$0")/.."

log() { echo "setup: $*" >&2; }
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "ok installed"; }

required=(cmake ninja-build g++ libgtest-dev clang libclang-rt-14-dev
          g++-mingw-w64-i686 g++-mingw-w64-x86-64
          wine wine64 xvfb xauth fonts-wine fonts-wqy-zenhei fonts-wqy-microhei
          mdbtools imagemagick python3 debootstrap)
# Node.js may come from elsewhere with npm inside it; Debian's npm would
# conflict with such a nodejs, so only commands that are missing are asked for.
command -v node >/dev/null || required+=(nodejs)
command -v npm >/dev/null || required+=(npm)

# 32-bit Wine on the machine itself: only where the kernel runs 32-bit code.
# Without it the i386 root (scripts/i386-root.sh) takes over: not required.
optional=()
if bash scripts/can-run-32.sh; then
  optional+=(wine32:i386)
fi

need=()
for p in "${required[@]}"; do have "$p" || need+=("$p"); done
want=()
for p in "${optional[@]}"; do have "$p" || want+=("$p"); done
if [ ${#need[@]} -gt 0 ] || [ ${#want[@]} -gt 0 ]; then
  if [ "$(id -u)" != 0 ]; then
    if [ ${#need[@]} -gt 0 ]; then
      log "missing packages (${need[*]}); run as root or install them"
      exit 1
    fi
    log "not root: ${want[*]} not installed; the 32-bit programs will run in an i386 root (scripts/i386-root.sh)"
    want=()
  fi
fi
if [ ${#need[@]} -gt 0 ] || [ ${#want[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive

  added_i386=0
  if [ ${#want[@]} -gt 0 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386 && added_i386=1
  fi

  # An index that fails leaves the others updated; what can be installed
  # from them is tried below.
  if ! apt-get update -qq; then
    log "apt-get update failed; trying once more"
    sleep 5
    apt-get update -qq || log "apt-get update failed again; going on with the indexes it did get"
  fi

  apt_log=$(mktemp)
  install() { apt-get install -y -qq "$@" >"$apt_log" 2>&1; }
  failed=()
  if [ ${#need[@]} -gt 0 ] && ! install "${need[@]}"; then
    # One at a time, to name what cannot be had.
    for p in "${need[@]}"; do
      install "$p" && continue
      failed+=("$p")
      grep -E '^E:|^ ' "$apt_log" | head -n 3 | sed "s/^/setup: $p: /" >&2
    done
  fi
  if [ ${#want[@]} -gt 0 ] && ! install "${want[@]}"; then
    log "could not install ${want[*]}; the 32-bit programs will run in an i386 root (scripts/i386-root.sh)"
    # Leave the machine as it was: a broken i386 index would fail every update.
    if [ $added_i386 = 1 ] && ! dpkg --remove-architecture i386; then
      log "could not remove the i386 architecture again (dpkg --remove-architecture i386)"
    fi
  fi
  rm -f "$apt_log"
  if [ ${#failed[@]} -gt 0 ]; then
    log "cannot install needed packages: ${failed[*]}"
    exit 1
  fi
fi

# The independent MDB reader used as a test oracle.
if [ -f tests/node/package.json ] && [ ! -d tests/node/node_modules/mdb-reader ]; then
  if ! (cd tests/node && npm install --no-audit --no-fund --silent); then
    log "cannot install the npm package mdb-reader (tests/node)"
    exit 1
  fi
fi
exit 0
