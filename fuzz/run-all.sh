#!/usr/bin/env bash
# The fuzz stage of the test command, which gives the same result for the
# same tree every time. Each target in the build folder first runs every
# committed input once: its seed corpus in fuzz/corpus/<target> and every
# input that once failed it in fuzz/regressions/<target>. Then it fuzzes from
# them for a fixed number of inputs drawn from a fixed seed. Fails on the
# first crash, leak, timeout or sanitizer report; the failing input is left
# in fuzz/findings/. Longer fuzzing from random seeds is fuzz/explore.sh.
#   bash fuzz/run-all.sh build-fuzz/fuzz
set -euo pipefail
source "$(dirname "$0")/common.sh"
bin_dir=$1
# The inputs tried depend on the seed alone: comparison tracing would feed
# the operands of pointer comparisons, which change with the address layout,
# to the mutations (-use_cmp=0), and a timed re-reading of the corpus folder
# would run some inputs once more (-reload=0).
seed=1

# Inputs per target, about 20 seconds each on a two-core machine: the
# old-defaults target writes each input to a file that libcups then reads.
runs_of() {
  case $1 in
    old_defaults_fuzzer) echo 4000 ;;
    manifest_fuzzer | ppd_header_fuzzer | ppd_merge_fuzzer) echo 30000 ;;
    *) echo 100000 ;;
  esac
}

mkdir -p "$here/findings"
shopt -s nullglob
targets=("$bin_dir"/*_fuzzer)
[ ${#targets[@]} -gt 0 ] || { echo "fuzz: no targets in $bin_dir" >&2; exit 1; }

# One target: prints its closing line, or the tail of its log and fails.
fuzz_one() {
  local target=$1 name runs work scratch inputs status=0
  name=$(basename "$target")
  runs=$(runs_of "$name")
  work=$(mktemp -d)
  # The target's scratch files go below its own folder, removed even when
  # a finding ends the target before it can clean up.
  scratch=$(mktemp -d)
  copy_inputs "$name" "$work"
  inputs=("$work"/*)
  # Whole inputs first (the fuzzing below cuts longer ones to -max_len),
  # then the fuzzing, each stopped by the first fault.
  if { [ ${#inputs[@]} -eq 0 ] ||
       TMPDIR="$scratch" "$target" -timeout=10 -rss_limit_mb=2048 -artifact_prefix="$here/findings/${name}-" \
         "${inputs[@]}" >"$work.log" 2>&1; } &&
     TMPDIR="$scratch" "$target" -seed=$seed -runs="$runs" -use_cmp=0 -reload=0 "${fuzz_limits[@]}" \
        -artifact_prefix="$here/findings/${name}-" "$work" >"$work.log" 2>&1; then
    echo "-- $name: ${#inputs[@]} committed inputs, then $runs from seed $seed:" \
      "$(grep -o 'DONE.*corp: [^ ]*' "$work.log" | tr -s ' \t' ' ')"
  else
    tail -n 60 "$work.log"
    echo "fuzz: $name found a fault"
    status=1
  fi
  rm -rf "$work" "$work.log" "$scratch"
  return $status
}

# As many targets at once as there are CPUs: each is one process, and what
# each tries depends on its seed alone. Their reports follow in name order.
results=$(mktemp -d)
trap 'rm -rf -- "$results"' EXIT
for target in "${targets[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "$(nproc)" ]; do wait -n || true; done
  name=$(basename "$target")
  { fuzz_one "$target" || touch "$results/$name.failed"; } >"$results/$name" 2>&1 &
done
wait
status=0
for target in "${targets[@]}"; do
  name=$(basename "$target")
  cat "$results/$name"
  if [ -e "$results/$name.failed" ]; then status=1; fi
done
exit $status
