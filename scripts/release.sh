#!/usr/bin/env bash
# Makes the product archive the way it is shipped: built inside a Debian 11
# (bullseye) root, the oldest release the product is built for, so that the
# binary starts on every distribution of that age or newer, and checked for
# what it needs of a host (scripts/check-binary.sh). The root comes
# from Debian's package registry and is kept for the next run (see
# scripts/debian-root.sh); the build tree is kept in build-bullseye.
# Runs as root on Debian 12. The last line of output is the archive's path.
#
# VELA_ROOTS_DIR: where the roots are kept (default /var/tmp/vela-roots).
# VELA_RELEASE_CLANG=1: also build the product with the root's clang.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/debian-root.sh

if [ "$(id -u)" -ne 0 ]; then
  echo "release: run as root (the build root is made and entered with mounts)" >&2
  exit 1
fi
for tool in unshare objdump readelf nm perl; do
  command -v "$tool" >/dev/null || { echo "release: $tool is missing (scripts/install-deps.sh installs it)" >&2; exit 1; }
done

build_packages=(build-essential cmake libcups2-dev nlohmann-json3-dev zlib1g-dev clang)
root=$(vela_debian_root bullseye "${build_packages[@]}")
source_dir=$(pwd)
out=$source_dir/build-bullseye
mkdir -p "$out/gcc" "$out/clang"

# The product alone (no tests: the root has no GoogleTest), warnings as
# errors, as the oldest compilers of the supported releases see it.
build() {
  local compiler=$1 dir=$2
  shift 2
  vela_in_root "$root" "set -e
    CXX=$compiler cmake -S /src -B /out/$dir -DCMAKE_BUILD_TYPE=Release -DVELA_WERROR=ON -DVELA_TESTS=OFF >/dev/null
    cmake --build /out/$dir -j $(nproc) $* >/out/$dir/build.log 2>&1 || { cat /out/$dir/build.log; exit 1; }" \
    "$source_dir:/src:ro" "$out:/out"
}

echo "== build the product in a Debian 11 root (g++ $(chroot "$root" g++ -dumpversion))" >&2
build g++ gcc >&2
if [ "${VELA_RELEASE_CLANG:-0}" = 1 ]; then
  echo "== build it with the root's clang as well" >&2
  build clang++ clang --target setup >&2
fi
vela_in_root "$root" "cd /out/gcc && cpack >/dev/null" "$source_dir:/src:ro" "$out:/out"

archive=$out/gcc/package/Vela-4.0-5-x86_64.tar.gz
[ -f "$archive" ] || { echo "release: cpack made no $archive" >&2; exit 1; }

echo "== check what the shipped binary needs" >&2
check=$(mktemp -d)
trap 'rm -rf -- "$check"' EXIT
tar -xzf "$archive" -C "$check" bin/setup
bash scripts/check-binary.sh "$check/bin/setup" "$root" >&2
echo "$archive"
