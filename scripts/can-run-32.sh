#!/usr/bin/env bash
# Succeeds when this machine can run 32-bit programs (and so 32-bit Wine).
# Some kernels are built or booted without 32-bit support.
[ -x /usr/lib/wine/wine ] || exit 1
/lib/ld-linux.so.2 --version >/dev/null 2>&1
