# Debian roots made from Debian's package registry, for building the product
# on the oldest release it supports and for trying the archive on each
# release with that release's own CUPS. Sourced by the release recipe and
# the release test. A root is kept for the next run under VELA_ROOTS_DIR
# (default /var/tmp/vela-roots), named by its suite and a hash of what it
# holds, so a changed package list makes a new one; it is made in a
# directory of its own and renamed when complete, so a run that was killed
# half way leaves nothing that a later run would take for a root.

vela_roots_dir() { printf '%s\n' "${VELA_ROOTS_DIR:-/var/tmp/vela-roots}"; }

# Bump when the way a root is made changes, so that older roots are not reused.
vela_root_recipe=1
vela_debian_mirror=http://deb.debian.org/debian

# Removes the half-made roots of runs that are gone (their pid ends the name).
vela_forget_dead_roots() {
  local dir=$1 making pid
  for making in "$dir"/.making-*; do
    [ -e "$making" ] || continue
    pid=${making##*-}
    if ! kill -0 "$pid" 2>/dev/null; then rm -rf -- "$making"; fi
  done
}

# vela_debian_root SUITE PACKAGE...: prints the path of a root of SUITE's
# main archive with PACKAGE... installed, making it first when none is kept.
vela_debian_root() {
  local suite=$1
  shift
  local dir key root making includes
  dir=$(vela_roots_dir)
  key=$(printf '%s\n' "$vela_root_recipe" "$suite" "$@" | sha256sum | cut -c1-16)
  root=$dir/$suite-$key
  if [ -d "$root" ]; then
    printf '%s\n' "$root"
    return 0
  fi
  mkdir -p -- "$dir"
  vela_forget_dead_roots "$dir"
  making=$dir/.making-$suite-$key-$$
  rm -rf -- "$making"
  mkdir -p -- "$making"
  includes=$(IFS=,; printf '%s' "$*")
  echo "making a Debian $suite root in $root" >&2
  if command -v mmdebstrap >/dev/null; then
    mmdebstrap --quiet --mode=root --variant=apt --include="$includes" \
      "$suite" "$making/root" "$vela_debian_mirror" >&2
  else
    debootstrap --variant=minbase --include="$includes" \
      "$suite" "$making/root" "$vela_debian_mirror" >&2
  fi
  # Mount points for the source and the build tree of a build inside it.
  mkdir -p -- "$making/root/src" "$making/root/out"
  if ! mv -T -- "$making/root" "$root" 2>/dev/null; then
    # Another run made the same root first: that one is kept.
    [ -d "$root" ] || { echo "cannot keep the Debian root $root" >&2; return 1; }
    rm -rf -- "$making/root"
  fi
  rmdir -- "$making"
  printf '%s\n' "$root"
}

# vela_in_root ROOT SCRIPT [FROM:AT[:ro]]...: runs SCRIPT with sh inside ROOT,
# with /proc and an empty /tmp of its own and each directory FROM of this machine mounted at AT
# (read-only with ":ro"; FROM holds no ":"). The mounts live only in a
# private mount namespace: the kept root gains nothing but what SCRIPT writes.
vela_in_root() {
  unshare --mount --propagation private sh -c '
    root=$1 script=$2
    shift 2
    mount -t proc proc "$root/proc" && mount -t tmpfs tmpfs "$root/tmp" || exit 1
    for bind in "$@"; do
      from=${bind%%:*} rest=${bind#*:}
      at=${rest%:ro}
      mount --bind -- "$from" "$root$at" || exit 1
      if [ "$rest" != "$at" ]; then mount -o remount,bind,ro -- "$root$at" || exit 1; fi
    done
    exec chroot "$root" /bin/sh -c "$script"' vela-in-root "$@"
}
