#!/usr/bin/env bash
# Runs every fuzz target in the given build folder for the given number of
# seconds, starting from its seed corpus in fuzz/corpus/<target>. Fails on the
# first crash, leak or sanitizer report; a crashing input is left as
# crash-<hash> in fuzz/findings/ to be kept as a regression test.
set -euo pipefail
bin_dir=$1
seconds=${2:-30}
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$here/findings"
# Leaks of the platform's libcups are listed in lsan.supp; ours still fail.
export LSAN_OPTIONS="suppressions=$here/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
status=0
for target in "$bin_dir"/*_fuzzer; do
  name=$(basename "$target")
  seeds="$here/corpus/$name"
  work=$(mktemp -d)
  # The target's scratch files go below its own folder, removed even when
  # a finding ends the target before it can clean up.
  scratch=$(mktemp -d)
  [ -d "$seeds" ] && cp -r "$seeds"/. "$work"/
  echo "-- $name for ${seconds}s"
  if ! TMPDIR="$scratch" "$target" -max_total_time="$seconds" -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
      -artifact_prefix="$here/findings/${name}-" -print_final_stats=0 "$work" >"$work.log" 2>&1; then
    tail -n 60 "$work.log"
    echo "fuzz: $name found a fault" >&2
    status=1
  fi
  rm -rf "$work" "$work.log" "$scratch"
done
exit $status
