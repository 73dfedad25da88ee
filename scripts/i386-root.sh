#!/usr/bin/env bash
# An i386 Debian 12 root under build/i386/, for running the 32-bit Windows
# programs under 32-bit Wine on machines whose own Wine cannot (no wine32, or
# a kernel that refuses 32-bit code).
#
#   scripts/i386-root.sh setup          make the root once (about 4 minutes),
#                                       put the 64-bit wineserver in it and,
#                                       where the kernel cannot run 32-bit code,
#                                       fetch qemu 10's static qemu-i386
#   scripts/i386-root.sh run CMD...     run a host command that uses the root
#   scripts/i386-root.sh enter CMD...   inside `run`: a command in the root, in
#                                       the current folder (tests/wine/i386/)
#   scripts/i386-root.sh remove         delete build/i386
#
# `run` mounts what the root needs (/proc, /sys, /dev, /tmp with the X
# sockets, the source tree) in a mount namespace of its own, so the mounts
# exist only for CMD and its children and vanish with them: nothing is ever
# mounted where the rest of the machine sees it. Where the kernel cannot run
# 32-bit code, the i386 programs go to qemu-i386 through a binfmt_misc handler
# registered in a binfmt_misc instance private to a user namespace (Linux 6.7
# and later); only where the kernel has no private instances is it registered
# machine-wide, under a name of its own, and removed when CMD ends. `setup`
# registers it machine-wide the same way while debootstrap runs the new
# root's programs (package scripts need the machine's own root user).
#
# Environment: USERMGR_CAN_RUN_32=no emulates even where the kernel would
# run 32-bit code (scripts/can-run-32.sh); USERMGR_I386_BINFMT=machine tries
# the machine-wide handler; USERMGR_DEBIAN_MIRROR (http://deb.debian.org/debian).
set -uo pipefail

src=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
self=$src/scripts/i386-root.sh
top=$src/build/i386
root=$top/root
qemu=$top/qemu-i386
mirror=${USERMGR_DEBIAN_MIRROR:-http://deb.debian.org/debian}
packages=wine,wine32,fonts-wine,fonts-wqy-zenhei,fonts-wqy-microhei
stamp="bookworm i386 $packages"  # a different stamp makes the root again

log() { echo "i386-root: $*" >&2; }

ready() { [ "$(cat "$root/.usermgr-root" 2>/dev/null)" = "$stamp" ]; }
emulate() { ! bash "$src/scripts/can-run-32.sh"; }

# Deletes DIR unless something is mounted in it (as seen from here).
safe_rm() {
  local dir=$1
  [ -e "$dir" ] || return 0
  if awk -v d="$dir" '$2 == d || index($2, d "/") == 1 { found = 1 } END { exit !found }' /proc/mounts; then
    log "something is mounted under $dir; unmounting it first"
    awk -v d="$dir" '$2 == d || index($2, d "/") == 1 { print $2 }' /proc/mounts | sort -r |
      while read -r m; do umount -l "$m"; done
    if awk -v d="$dir" '$2 == d || index($2, d "/") == 1 { found = 1 } END { exit !found }' /proc/mounts; then
      log "cannot unmount everything under $dir; not deleting it"
      return 1
    fi
  fi
  rm -rf --one-file-system "$dir"
}

# Besides the root: the root's Wine version of the 64-bit wineserver, with
# the machine's own amd64 loader and C library, placed in the root, where
# Debian's wineserver wrapper prefers it; one 64-bit server serves 32-bit
# Wine as in a multiarch installation. Run natively, it reaches the emulated
# programs' memory (ptrace), which an emulated server cannot: qemu-i386 has
# no ptrace, and the GUI driver reads and writes the program's memory. Where
# the kernel cannot run 32-bit code, qemu 10's static qemu-i386 too (from
# bookworm-backports: Debian 12's own qemu 7.2 is too slow for Wine and
# crashes it).
wine_version() {  # from the root's package database: its programs may not run here yet
  awk '/^Package: / { p = $2 } p == "wine32" && /^Version: / { print $2; exit }' "$root/var/lib/dpkg/status"
}
server_ready() {
  [ "$(cat "$top/wineserver64.version" 2>/dev/null)" = "$(wine_version)" ] &&
    chroot "$root" /usr/lib/wine/wineserver64 --version >/dev/null 2>&1
}
qemu_ready() { [ -x "$qemu" ] && "$qemu" --version 2>/dev/null | grep -q 'version 10\.'; }

# fetch_extras WANT_QEMU WANT_SERVER: what is wanted and not yet in place.
# qemu comes first, before the root exists: debootstrap runs the root's
# programs, which need it where the kernel cannot run them.
fetch_extras() {
  local want_qemu=$1 want_server=$2 ver a=$top/apt
  [ "$want_qemu" = 1 ] && qemu_ready && want_qemu=0
  [ "$want_server" = 1 ] && server_ready && want_server=0
  [ "$want_qemu" = 0 ] && [ "$want_server" = 0 ] && return 0
  rm -rf "$a"
  mkdir -p "$a/lists/partial" "$a/cache/archives/partial" "$a/deb"
  # An apt configuration of its own: the machine's sources stay as they are.
  local debs=()
  echo "deb [arch=amd64] $mirror bookworm main" >"$a/sources.list"
  if [ "$want_server" = 1 ]; then
    ver=$(wine_version)
    debs+=("wine64=$ver")
  fi
  if [ "$want_qemu" = 1 ]; then
    echo "deb [arch=amd64] $mirror bookworm-backports main" >>"$a/sources.list"
    debs+=(qemu-user/bookworm-backports)
  fi
  local opts=(-o Dir::Etc::sourcelist="$a/sources.list" -o Dir::Etc::sourceparts=/dev/null
              -o Dir::State::Lists="$a/lists" -o Dir::Cache="$a/cache"
              -o APT::Architectures::=amd64 -o Debug::NoLocking=1 -o APT::Sandbox::User=root)
  log "fetching ${debs[*]}"
  apt-get "${opts[@]}" -qq update || { log "cannot read the package indexes"; return 1; }
  (cd "$a/deb" && apt-get "${opts[@]}" -qq download "${debs[@]}") || { log "cannot download ${debs[*]}"; return 1; }
  local deb
  for deb in "$a"/deb/*.deb; do dpkg -x "$deb" "$a/x" || return 1; done
  if [ "$want_qemu" = 1 ]; then
    cp "$a/x/usr/bin/qemu-i386" "$qemu.new" && mv "$qemu.new" "$qemu" || return 1
  fi
  if [ "$want_server" = 0 ]; then
    rm -rf "$a"
    return 0
  fi
  cp "$a/x/usr/lib/wine/wineserver64" "$root/usr/lib/wine/wineserver64" || return 1
  local libc
  libc=$(ldd "$root/usr/lib/wine/wineserver64" | awk '$1 == "libc.so.6" { print $3 }')
  mkdir -p "$root/lib64" "$root/usr/lib/x86_64-linux-gnu" &&
    cp -L /lib64/ld-linux-x86-64.so.2 "$root/lib64/" &&
    cp -L "$libc" "$root/usr/lib/x86_64-linux-gnu/libc.so.6" || { log "cannot copy the amd64 C library"; return 1; }
  echo "$ver" >"$top/wineserver64.version"
  rm -rf "$a"
  server_ready || { log "the 64-bit wineserver does not run in the root"; return 1; }
}

setup() {
  [ "$(id -u)" = 0 ] || { log "needs root (debootstrap, chroot, mount)"; return 1; }
  mkdir -p "$top"
  exec 8>"$top/lock"
  if ! ready; then
    # Every session holds the lock shared; the root is made again only when
    # none uses it.
    flock -w 600 8 || { log "the root stays in use; cannot make it again"; return 1; }
    if ! ready; then
      safe_rm "$root" || return 1
      command -v debootstrap >/dev/null || { log "debootstrap is missing"; return 1; }
      log "making the i386 root $root (once, about 4 minutes)"
      local t0=$SECONDS
      # The main archive only: a half-synced security index cannot stop it.
      # Its own mount namespace: the /proc and /sys it mounts in the root
      # for the packages' scripts stay out of the machine's sight.
      # Where the kernel cannot run 32-bit code, debootstrap runs the root's
      # programs through qemu-i386, registered machine-wide for those minutes
      # (installing packages needs the machine's own root, which a user
      # namespace's private handler would not give).
      local under=()
      if emulate; then
        fetch_extras 1 0 || return 1
        under=(env USERMGR_I386_EMULATE=1 bash "$self" handler)
      fi
      if ! unshare --mount --propagation private "${under[@]}" debootstrap --arch=i386 --variant=minbase \
          --include="$packages" bookworm "$root" "$mirror" >"$top/debootstrap.log" 2>&1; then
        log "debootstrap failed; the end of $top/debootstrap.log:"
        tail -n 15 "$top/debootstrap.log" >&2
        return 1
      fi
      rm -f "$root"/var/cache/apt/archives/*.deb
      echo "$stamp" >"$root/.usermgr-root"
      log "root made in $((SECONDS - t0)) s"
    fi
    flock -u 8
  fi
  exec 8>&-
  local want_qemu=0
  emulate && want_qemu=1
  fetch_extras $want_qemu 1 || return 1
  # A first program in the root shows that it runs here.
  if ! bash "$self" run chroot "$root" /bin/true; then
    log "the root's programs do not run on this machine"
    return 1
  fi
}

# The i386 ELF header as binfmt_misc matches it (Debian's qemu-user-binfmt).
magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
bfm=/proc/sys/fs/binfmt_misc

register() {  # register NAME: i386 programs go to qemu-i386
  printf '%s' ":$1:M::$magic:$mask:$qemu:F" >"$bfm/register" ||
    { log "cannot register qemu-i386 with binfmt_misc"; exit 1; }
}

# Registers qemu-i386 for every process of the machine, under a name of
# this process's own, removed again on every way out of it.
register_machine_wide() {
  [ -e "$bfm/register" ] || mount -t binfmt_misc binfmt_misc "$bfm" || exit 1
  local f name=usermgr-i386-$$
  for f in "$bfm"/usermgr-i386-*; do  # left by runs that were killed
    [ -e "$f" ] && ! kill -0 "${f##*-}" 2>/dev/null && echo -1 >"$f"
  done
  # shellcheck disable=SC2064  # the name, fixed now
  trap "echo -1 >'$bfm/$name' 2>/dev/null" EXIT
  trap 'exit 130' INT TERM HUP
  register "$name"
}

# Runs inside the new namespaces: mounts, handler, then CMD.
session() {
  local handler=
  if [ "${USERMGR_I386_EMULATE:-0}" = 1 ]; then
    # A binfmt_misc instance of this user namespace: private on Linux 6.7+.
    if [ "${USERMGR_I386_USERNS:-0}" = 1 ]; then
      mount -t binfmt_misc binfmt_misc "$bfm" || exit 1
      handler=usermgr-i386
      register "$handler"
    else
      register_machine_wide
      handler=machine-wide
    fi
  fi
  local m
  for m in proc sys dev; do
    mount --rbind "/$m" "$root/$m" || exit 1
  done
  # /tmp: the X sockets, and temporary files the tests hand to the programs.
  mount --bind /tmp "$root/tmp" || exit 1
  mkdir -p "$root$src" && mount --bind "$src" "$root$src" || exit 1
  local fixtures
  fixtures=$(cd "$src/../shared/fixtures" 2>/dev/null && pwd)
  if [ -n "$fixtures" ]; then
    mkdir -p "$root$fixtures" && mount --bind "$fixtures" "$root$fixtures"
  fi
  export USERMGR_I386_SESSION=$root
  if [ -n "$handler" ] && [ "${USERMGR_I386_USERNS:-0}" != 1 ]; then
    "$@"  # not exec: the trap removes the handler afterwards
  else
    exec "$@"
  fi
}

run() {
  if ! ready; then
    log "no i386 root yet: run scripts/i386-root.sh setup (as root)"
    return 77
  fi
  if [ -n "${USERMGR_I386_SESSION:-}" ]; then exec "$@"; fi
  # Held shared by every session: the root is made again only when unused.
  exec 8>"$top/lock" && flock -s -w 600 8 || { log "the root is being made again"; return 1; }
  if ! emulate; then
    exec unshare --mount --propagation private bash "$self" session "$@"
  fi
  if [ ! -x "$qemu" ] || [ ! -x "$root/usr/lib/wine/wineserver64" ]; then
    log "the kernel cannot run 32-bit code and qemu-i386 or the 64-bit wineserver is missing: run scripts/i386-root.sh setup"
    return 77
  fi
  # A user namespace (root mapped to root) owns a binfmt_misc instance of
  # its own (Linux 6.7 and later); where the kernel has none, the handler is
  # registered machine-wide.
  local userns=0
  if [ "${USERMGR_I386_BINFMT:-}" != machine ] &&  # forces the fallback, for trying it
    unshare --user --map-root-user --mount --propagation private \
      mount -t binfmt_misc binfmt_misc "$bfm" 2>/dev/null; then
    userns=1
  fi
  if [ $userns = 1 ]; then
    USERMGR_I386_EMULATE=1 USERMGR_I386_USERNS=1 \
      exec unshare --user --map-root-user --mount --propagation private bash "$self" session "$@"
  fi
  log "no private binfmt_misc instance here: qemu-i386 is registered machine-wide for this run"
  USERMGR_I386_EMULATE=1 exec unshare --mount --propagation private bash "$self" session "$@"
}

enter() {
  [ -n "${USERMGR_I386_SESSION:-}" ] || { log "enter: only inside scripts/i386-root.sh run"; return 2; }
  local dir=$PWD
  [ -d "$root$dir" ] || dir=/
  # unshare --root is chroot and chdir by this machine's own program.
  exec env -u LD_LIBRARY_PATH -u LD_PRELOAD PATH=/usr/local/bin:/usr/bin:/bin HOME=/root \
    unshare --root="$root" --wd="$dir" "$@"
}

cmd=${1:-}
shift || true
case "$cmd" in
  setup) setup ;;
  run) run "$@" ;;
  session) session "$@" ;;
  handler)  # internal: CMD with qemu-i386 registered machine-wide
    register_machine_wide
    "$@"
    ;;
  enter) enter "$@" ;;
  remove)
    [ -d "$top" ] || exit 0
    exec 8>"$top/lock" && flock -w 60 8 || { log "the root is in use"; exit 1; }
    safe_rm "$top"
    ;;
  *)
    echo "usage: $0 setup | run CMD... | enter CMD... | remove" >&2
    exit 2
    ;;
esac
