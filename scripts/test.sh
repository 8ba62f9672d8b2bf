#!/usr/bin/env bash
# The whole test run: installs what is needed, builds the installer and its
# tests as the Release type, and runs every test with CTest (one of them makes
# the product archive); then builds and runs the suite again with
# AddressSanitizer and UndefinedBehaviorSanitizer (a sample of the PPD
# corpora, no fleet), makes the shipped archive in a Debian 11 root and tries
# it on Debian 11, 12 and 13, and runs each fuzz target on its committed
# inputs and then on a fixed number of inputs from a fixed seed, so the same
# tree always gives the same result. Every build treats warnings
# as errors. Behaviour tests need root (namespaces, mounts). The roll-out
# playbook and its role pass ansible-lint first.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

# As many test jobs as CPUs this run may use: nproc does not see a cgroup's
# CPU quota, and a container with many visible CPUs but a small quota slows
# every test down when all of them start at once.
jobs=$(nproc)
quota=$(cat /sys/fs/cgroup/cpu.max 2>/dev/null || echo max)
if [ "${quota%% *}" != max ]; then
  allowed=$(( (${quota%% *} + ${quota##* } - 1) / ${quota##* } ))
  if [ "$allowed" -lt "$jobs" ]; then jobs=$allowed; fi
fi

echo "== lint the roll-out role and playbook"
# Offline: the role needs nothing from Ansible Galaxy.
(cd contrib/ansible && ansible-lint --offline --nocolor --profile production vela.yml roles/vela)
echo "== lint the manual page"
groff -man -ww -z product/etc/setup.8

# The builds of the later stages run at the lowest priority while the tests
# before them run: behaviour tests spend much of their time waiting on
# schedulers, jobs and timeouts, and a build niced to 19 takes only the CPU
# that they leave. Its output goes to a log, shown when it fails; a session
# of its own, so that a run that stops early stops the build too. Where the
# kernel groups the processes of a session for its scheduler (autogroup),
# the group is niced as well, or the build would take half the CPU. Once
# the script waits for the build, it gets the normal priority back.
build_behind() {  # log, then the arguments of cmake --build
  local log=$1
  shift
  setsid --wait sh -c 'echo 19 2>/dev/null >/proc/self/autogroup; exec nice -n 19 cmake --build "$@"' \
    build_behind "$@" >"$log" 2>&1 &
  behind_pid=$! behind_log=$log
}
wait_for_build() {
  local status=0
  renice -n 0 -g "$behind_pid" >/dev/null 2>&1 || true
  echo 0 2>/dev/null >"/proc/$behind_pid/autogroup" || true
  wait "$behind_pid" || status=$?
  behind_pid=
  if [ "$status" -ne 0 ]; then
    cat "$behind_log"
    echo "the build logged in $behind_log failed"
    exit 1
  fi
}
behind_pid=
trap 'if [ -n "$behind_pid" ]; then kill -- "-$behind_pid" 2>/dev/null || true; fi' EXIT

echo "== build and test"
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DVELA_WERROR=ON -DVELA_TESTS=ON >/dev/null
cmake --build build -j "$jobs"
cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DVELA_SANITIZE=ON -DVELA_WERROR=ON -DVELA_TESTS=ON \
  -DVELA_DEMO_AND_BENCH=OFF >/dev/null
build_behind build-sanitize/build.log build-sanitize -j "$jobs"
# The quick tier first, so that a broken unit answers within a minute; then
# the rest, the longest tests first (their cost in tests/CMakeLists.txt).
ctest --test-dir build --output-on-failure -j "$jobs" -L quick | tee build/ctest.log
ctest --test-dir build --output-on-failure -j "$jobs" -LE quick | tee -a build/ctest.log

echo "== test with AddressSanitizer and UndefinedBehaviorSanitizer (built during the tests above)"
wait_for_build
if [ -f fuzz/CMakeLists.txt ]; then
  CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=Debug -DVELA_FUZZ=ON -DVELA_WERROR=ON >/dev/null
  build_behind build-fuzz/build.log build-fuzz -j "$jobs" --target vela_fuzzers
fi
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-sanitize --output-on-failure -j "$jobs" | tee build-sanitize/ctest.log

echo "== make the shipped archive in a Debian 11 root and try it on Debian 11, 12 and 13"
# The recipe checks what the archive's setup needs of a host and fails on
# a fault; the matrix runs it with each release's own CUPS. Their roots are
# kept between runs (scripts/debian-root.sh).
archive=$(VELA_RELEASE_CLANG=1 bash scripts/release.sh | tail -n 1)
bash scripts/release-matrix.sh "$archive" build | tee build/release-matrix.log

if [ -f fuzz/CMakeLists.txt ]; then
  echo "== fuzz the parsers of outside text (built during the sanitizer tests)"
  wait_for_build
  bash fuzz/run-all.sh build-fuzz/fuzz
fi

# One closing line for the whole run: every stage above stops the script on
# its first failure, so reaching here means all passed.
passed=$(awk '/tests passed, 0 tests failed out of/ { n += $NF } /^\[  PASSED  \] [0-9]+ test/ { n += $4 }
  END { print n + 0 }' build/ctest.log build-sanitize/ctest.log build/release-matrix.log)
echo "summary: ${passed} passed, 0 failed"
