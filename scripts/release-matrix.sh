#!/usr/bin/env bash
# Tries the shipped archive on Debian 11, 12 and 13, each with its own CUPS:
# makes (or reuses) a root of each release with the scheduler and the
# commands setup runs, and runs the upgrade scenario of BUILD_DIR over them.
#
#   release-matrix.sh ARCHIVE [BUILD_DIR]    (BUILD_DIR: build, where e2e_tests is)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/debian-root.sh

archive=$1
build_dir=${2:-build}
[ -f "$archive" ] || { echo "matrix: no archive $archive" >&2; exit 1; }
[ -x "$build_dir/tests/e2e_tests" ] || { echo "matrix: $build_dir/tests/e2e_tests is not built" >&2; exit 1; }

# The scheduler and its client commands, foomatic-rip (without it setup
# leaves the host alone), and the commands setup and the tests run.
test_packages=(cups cups-client cups-filters gzip tar procps)
suites=(bullseye bookworm trixie)
# Made side by side on a first run: most of the time goes to the registry.
paths=$(mktemp -d)
trap 'rm -rf -- "$paths"' EXIT
for suite in "${suites[@]}"; do
  vela_debian_root "$suite" "${test_packages[@]}" >"$paths/$suite" &
done
for suite in "${suites[@]}"; do
  wait -n || { echo "matrix: a Debian root could not be made" >&2; exit 1; }
done
roots=
for suite in "${suites[@]}"; do roots="$roots $suite=$(cat "$paths/$suite")"; done
VELA_RELEASE_ROOTS=$roots VELA_RELEASE_ARCHIVE=$(realpath "$archive") "$build_dir/tests/e2e_tests" --gtest_filter='Debian/*'
