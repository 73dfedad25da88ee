#!/usr/bin/env bash
# Succeeds when this machine's kernel runs 32-bit x86 programs itself. Some
# kernels are built or booted without it; then only emulation can run them.
# USERMGR_CAN_RUN_32=yes|no overrides the probe (the set-up's tests use it,
# and `no` tries the emulated path on a machine that does not need it).
case "${USERMGR_CAN_RUN_32:-}" in
  yes) exit 0 ;;
  no) exit 1 ;;
esac
[ "$(uname -m)" = x86_64 ] || [ "$(uname -m)" = i686 ] || exit 1

# The smallest static i386 program: exit(42) through int 0x80. The last
# byte of its e_ident padding is 1: the kernel's ELF loader ignores it, and
# the usual i386 binfmt_misc handlers (qemu's, ours) require 0 there, so an
# emulator registered for i386 programs does not answer for the kernel.
probe=$(mktemp)
trap 'rm -f "$probe"' EXIT
printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x01'\
'\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00'\
'\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00'\
'\x00\x00\x00\x00'\
'\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08'\
'\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00'\
'\xb8\x01\x00\x00\x00\xbb\x2a\x00\x00\x00\xcd\x80' >"$probe"
chmod +x "$probe"

# A handler that would take even this probe makes its answer meaningless.
bfm=/proc/sys/fs/binfmt_misc
if [ "$(cat $bfm/status 2>/dev/null)" = enabled ]; then
  bytes=$(od -An -v -tx1 "$probe" | tr -d ' \n')
  for f in "$bfm"/*; do
    [ -f "$f" ] && grep -qx enabled "$f" 2>/dev/null || continue
    magic=$(sed -n 's/^magic //p' "$f")
    [ -n "$magic" ] || continue  # matched by file name extension
    off=$(sed -n 's/^offset //p' "$f")
    mask=$(sed -n 's/^mask //p' "$f")
    match=1
    for ((i = 0; i < ${#magic} / 2; i++)); do
      b=$((16#${bytes:2 * (${off:-0} + i):2}))
      m=255
      [ -z "$mask" ] || m=$((16#${mask:2 * i:2}))
      [ $((b & m)) = $((16#${magic:2 * i:2})) ] || { match=0; break; }
    done
    [ $match = 1 ] && exit 1
  done
fi
"$probe" 2>/dev/null
[ $? = 42 ]
