# What the fuzz runners share: the libFuzzer limits every run uses, the
# leak suppressions for the platform's libcups, and a target's starting
# inputs (its seed corpus and every input that once failed it).
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
fuzz_limits=(-max_len=4096 -timeout=10 -rss_limit_mb=2048)
# Leaks of the platform's libcups are listed in lsan.supp; ours still fail.
export LSAN_OPTIONS="suppressions=$here/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"

# Copies the committed inputs of target $1 into folder $2, in name order.
copy_inputs() {
  local file
  for file in $(find "$here/corpus/$1" "$here/regressions/$1" -type f 2>/dev/null | LC_ALL=C sort); do
    cp "$file" "$2/$(basename "$(dirname "$file")")-$(basename "$file")"
  done
}
