#!/usr/bin/env bash
# Runs the release suite (the optimised build with warnings as errors and
# every test, the real hosts included) in a chroot of another Debian release,
# built there with that release's compiler against its ffmpeg, MLT and
# GStreamer:
#
#   scripts/chroot-test.sh SUITE [CACHE]           e.g. trixie (Debian 13), sid
#   scripts/chroot-test.sh --readme SUITE [CACHE]  the README's two commands
#                                                  (scripts/demo.sh, scripts/test.sh)
#                                                  from a fresh clone of HEAD
#                                                  in a fresh chroot
#                                                  (FUZZ_SECONDS and
#                                                  EFFECTS_CHROOT_SUITES
#                                                  passed on)
#
# The chroot is CACHE/SUITE (CACHE: the argument, else $EFFECTS_CHROOT_CACHE,
# else /var/cache/effects-chroots) and is kept: a later run reuses it and
# installs only what is missing; one left half made by an interrupted run is
# made again. The --readme chroot, CACHE/SUITE-fresh, is made afresh each
# time. The Debian mirror is the one apt on this machine uses. No package of
# ready-made frei0r plug-ins enters the chroot: an empty placeholder stands
# in for frei0r-plugins, and the run fails if any frei0r-1 folder outside
# our build holds a plug-in that is not ours. Needs root.
. "$(dirname "$0")/common.sh"
src=$PWD

readme=0
if [ "${1:-}" = --readme ]; then
  readme=1
  shift
fi
suite=${1:?usage: scripts/chroot-test.sh [--readme] SUITE [CACHE]}
cache=${2:-${EFFECTS_CHROOT_CACHE:-/var/cache/effects-chroots}}
[ "$(id -u)" -eq 0 ] || { echo "needs root (debootstrap, chroot, mount)" >&2; exit 1; }

need_packages CHROOT

# The first non-security mirror in apt's sources (deb822 files, then the
# one-line format).
mirror() {
  local f
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -e "$f" ] || continue
    awk 'BEGIN { RS = ""; FS = "\n" }
         { uris = ""; suites = ""
           for (i = 1; i <= NF; i++) {
             if ($i ~ /^URIs:/) uris = $i
             if ($i ~ /^Suites:/) suites = $i
           }
           if (uris != "" && suites !~ /-security/) {
             sub(/^URIs:[ \t]*/, "", uris); split(uris, u, /[ \t]+/); print u[1]
           } }' "$f"
  done
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -e "$f" ] || continue
    awk '$1 == "deb" && $0 !~ /security/ {
           for (i = 2; i <= NF; i++) if ($i ~ /^[a-z]+:\/\//) { print $i; break } }' "$f"
  done
}
url=$(mirror | head -n 1)
[ -n "$url" ] || { echo "no Debian mirror in apt's sources" >&2; exit 1; }

mkdir -p "$cache"
root=$cache/$suite
[ "$readme" -eq 1 ] && root=$cache/$suite-fresh
# One run per chroot at a time.
exec 9>"$root.lock"
flock 9

# Everything mounted below the chroot, deepest first. A run that was killed
# may have left some: they go before anything else happens to the tree.
mounted_below() {
  awk -v r="$root/" 'index($2, r) == 1 { print $2 }' /proc/mounts | sort -r
}
unmount_all() {
  local m
  for m in $(mounted_below); do umount "$m" 2>/dev/null || umount -l "$m"; done
}
trap unmount_all EXIT
trap 'exit 130' INT TERM HUP
unmount_all

fresh_base() {
  [ -z "$(mounted_below)" ] || { echo "still mounted below $root" >&2; exit 1; }
  rm -rf --one-file-system "$root"
  local start=$SECONDS
  debootstrap --variant=minbase "$suite" "$root" "$url" >"$root.debootstrap.log" 2>&1 \
    || { tail -20 "$root.debootstrap.log"; echo "debootstrap $suite failed" >&2; exit 1; }
  # sid's index is now and then past its expiry date.
  echo 'Acquire::Check-Valid-Until "false";' >"$root/etc/apt/apt.conf.d/99no-expiry"
  echo "debootstrap $suite: $((SECONDS - start)) s"
  touch "$root/.effects-base"
}
if [ "$readme" -eq 1 ] || [ ! -e "$root/.effects-base" ]; then
  fresh_base
else
  echo "reusing the $suite chroot in $root"
fi
cp /etc/resolv.conf "$root/etc/resolv.conf"

mount -t proc proc "$root/proc"
mount --bind /dev "$root/dev"
mount --bind /dev/pts "$root/dev/pts"
if mountpoint -q /dev/shm; then mount --bind /dev/shm "$root/dev/shm"; fi

# VAR=VALUE arguments before the command add to its environment.
in_chroot() {
  chroot "$root" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM=dumb \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin "$@"
}

# A package operation that an earlier run was interrupted in is finished
# first (dpkg refuses to go on otherwise).
in_chroot dpkg --configure -a

# frei0r-plugins, empty: whatever asks for it is satisfied without a single
# ready-made plug-in.
if ! in_chroot dpkg-query -W -f='${Version}' frei0r-plugins 2>/dev/null | grep -q placeholder; then
  work=$(mktemp -d)
  cat >"$work/control" <<'EOF'
Section: misc
Priority: optional
Standards-Version: 4.6.2
Package: frei0r-plugins
Version: 99:0-placeholder
Architecture: all
Description: empty stand-in for frei0r-plugins
 Holds no plug-in: the tests see no frei0r plug-ins but their own.
EOF
  (cd "$work" && equivs-build control >/dev/null 2>&1)
  cp "$work"/frei0r-plugins_*_all.deb "$root/tmp/"
  rm -rf "$work"
  in_chroot sh -c 'dpkg -i /tmp/frei0r-plugins_*_all.deb >/dev/null && rm /tmp/frei0r-plugins_*_all.deb'
fi

# Every plug-in in a frei0r-1 folder of the chroot's system, other than ours
# (the Debian package test installs ours there for a moment).
foreign_plugins() {
  local dir f
  for dir in $(find "$root/usr" "$root/opt" "$root/root/.frei0r-1" -type d -name 'frei0r-1' \
      2>/dev/null) "$root/root/.frei0r-1/lib"; do
    [ -d "$dir" ] || continue
    for f in "$dir"/*; do
      [ -e "$f" ] || continue
      is_our_plugin "$(basename "$f")" || echo "$f"
    done
  done
}
check_no_foreign_plugins() {
  local found
  found=$(foreign_plugins)
  [ -z "$found" ] || { echo "ready-made plug-ins in the chroot:" >&2; echo "$found" >&2; exit 1; }
}
check_no_foreign_plugins

if [ "$readme" -eq 1 ]; then
  rm -rf "$root/root/effects"
  git clone -q "$src" "$root/root/effects"
  echo "=== README commands in a fresh $suite chroot, from a clone of $(git rev-parse --short HEAD)"
  start=$SECONDS
  in_chroot bash -c 'cd /root/effects && scripts/demo.sh'
  echo "scripts/demo.sh in $suite: $((SECONDS - start)) s"
  check_no_foreign_plugins
  start=$SECONDS
  # The README's command as it is, but for the settings given to this run.
  in_chroot ${FUZZ_SECONDS+FUZZ_SECONDS="$FUZZ_SECONDS"} \
    ${EFFECTS_CHROOT_SUITES+EFFECTS_CHROOT_SUITES="$EFFECTS_CHROOT_SUITES"} \
    bash -c 'cd /root/effects && scripts/test.sh'
  echo "scripts/test.sh in $suite: $((SECONDS - start)) s"
  check_no_foreign_plugins
  exit 0
fi

# The working tree as it is (build folders aside), with its times, so that
# the build folder kept beside it is brought up to date incrementally.
rm -rf "$root/root/effects"
mkdir -p "$root/root/effects"
tar -C "$src" --exclude=./build --exclude=./out --exclude=./.git -cf - . \
  | tar -C "$root/root/effects" -xf -

start=$SECONDS
in_chroot bash -c 'cd /root/effects && . scripts/common.sh && need_packages BUILD SUITE' \
  >"$root.install.log" 2>&1 || { tail -30 "$root.install.log"; exit 1; }
echo "packages for $suite: $((SECONDS - start)) s"
check_no_foreign_plugins

in_chroot bash -c 'g++ --version | head -n 1; ffmpeg -version | head -n 1; melt -version 2>&1 | head -n 1
  gst-launch-1.0 --version | sed -n 2p'
start=$SECONDS
# The preset chroot: the release suite, built in /root/build/release, which
# the copy of the tree above does not replace.
in_chroot bash -c 'set -e; cd /root/effects
  cmake --preset chroot >/dev/null
  cmake --build --preset chroot -j"$(nproc)"
  ctest --preset chroot -j"$(nproc)"'
echo "release suite in $suite: $((SECONDS - start)) s"
check_no_foreign_plugins
