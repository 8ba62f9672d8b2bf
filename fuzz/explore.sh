#!/usr/bin/env bash
# Exploratory fuzzing, apart from the test command: each named target (every
# target in the build folder when none is named) runs for the given seconds
# from a random seed, starting from its committed inputs, at the lowest CPU
# priority. A failing input is left in fuzz/findings/ as
# <target>-crash-<hash> (or leak-, timeout-, oom-); it is committed under
# fuzz/regressions/<target>/ with its fix, so that every later run replays it.
#   bash fuzz/explore.sh build-fuzz/fuzz [seconds] [target...]
set -euo pipefail
source "$(dirname "$0")/common.sh"
bin_dir=$1
seconds=${2:-600}
shift $(($# < 2 ? $# : 2))
targets=("$@")
[ ${#targets[@]} -gt 0 ] || for target in "$bin_dir"/*_fuzzer; do targets+=("$(basename "$target")"); done
mkdir -p "$here/findings"
status=0
for name in "${targets[@]}"; do
  work=$(mktemp -d)
  scratch=$(mktemp -d)
  copy_inputs "$name" "$work"
  echo "-- $name for ${seconds}s from a random seed"
  if TMPDIR="$scratch" nice -n 19 "$bin_dir/$name" -max_total_time="$seconds" "${fuzz_limits[@]}" \
      -artifact_prefix="$here/findings/${name}-" -print_final_stats=1 "$work" >"$work.log" 2>&1; then
    grep -E '^(#[0-9]+ +DONE|stat::number_of_executed_units)' "$work.log" || true
  else
    tail -n 60 "$work.log"
    echo "fuzz: $name found a fault (kept in fuzz/findings/)" >&2
    status=1
  fi
  rm -rf "$work" "$work.log" "$scratch"
done
exit $status
