#!/usr/bin/env bash
# Succeeds when this machine's kernel runs 32-bit x86 programs itself. Some
# kernels are built or booted without it; then only emulation can run them.
# USERMGR_CAN_RUN_32=yes|no overrides the probe (the set-up's tests use it).
case "${USERMGR_CAN_RUN_32:-}" in
  yes) exit 0 ;;
  no) exit 1 ;;
esac
[ "$(uname -m)" = x86_64 ] || [ "$(uname -m)" = i686 ] || exit 1
# An i386 handler in binfmt_misc (an emulator) would answer for the kernel.
for f in /proc/sys/fs/binfmt_misc/*; do
  [ -f "$f" ] || continue
  grep -q '^enabled' "$f" 2>/dev/null && grep -q '^magic 7f454c4601010100000000000000000002000300' "$f" 2>/dev/null && exit 1
done
# The smallest static i386 program: exit(42) through int 0x80.
probe=$(mktemp)
trap 'rm -f "$probe"' EXIT
printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00'\
'\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00'\
'\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00'\
'\x00\x00\x00\x00'\
'\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08'\
'\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00'\
'\xb8\x01\x00\x00\x00\xbb\x2a\x00\x00\x00\xcd\x80' >"$probe"
chmod +x "$probe"
"$probe" 2>/dev/null
[ $? = 42 ]
