#!/usr/bin/env bash
# What the shipped setup binary may need of a host, so that it starts on
# every distribution the archive is sold for, down to RHEL 8 (glibc 2.28,
# GCC 8's libstdc++, CUPS 2.2.6): symbol versions of the C library and the
# C++ runtime no newer than there, no shared library but libcups and the C
# library's own, only libcups functions that CUPS 2.2 already offered (by
# the availability marks of the libcups headers it was built against), and
# every function bound at start. Prints what it needs; exits 1 naming every
# rule it breaks.
#
#   check-binary.sh BINARY ROOT    (ROOT: the root it was built in, "/" here)
set -euo pipefail

binary=$1
root=${2:-/}
max_glibc=2.28
max_glibcxx=3.4.25
max_cxxabi=1.3.11
max_cups_api=2.2
allowed_needed='^(libcups\.so\.2|libc\.so\.6|libm\.so\.6|libpthread\.so\.0|libdl\.so\.2|librt\.so\.1|ld-linux-x86-64\.so\.2)$'

faults=0
fault() { echo "check-binary: $*" >&2; faults=$((faults + 1)); }

# newer A B: A is a later version than B.
newer() { [ "$1" != "$2" ] && [ "$(printf '%s\n%s\n' "$1" "$2" | sort -V | tail -n1)" = "$1" ]; }

# The newest version of a symbol family (GLIBC, GLIBCXX, CXXABI) it needs.
newest() {
  objdump -T "$binary" | { grep -oE "\b$1_[0-9][0-9.]*" || true; } | sed "s/^$1_//" | sort -uV | tail -n1
}

for family in GLIBC:$max_glibc GLIBCXX:$max_glibcxx CXXABI:$max_cxxabi; do
  name=${family%%:*} limit=${family#*:}
  need=$(newest "$name")
  if [ -n "$need" ]; then echo "needs ${name}_$need (at most ${name}_$limit allowed)"; else echo "needs no ${name}_ version"; fi
  if [ -n "$need" ] && newer "$need" "$limit"; then fault "${name}_$need is newer than ${name}_$limit"; fi
done

needed=$(readelf -d "$binary" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
echo "NEEDED: $(echo $needed)"
for library in $needed; do
  if ! [[ $library =~ $allowed_needed ]]; then fault "needs the shared library $library"; fi
done

if ! readelf -d "$binary" | grep -Eq '\(FLAGS\).*BIND_NOW|\(FLAGS_1\).*NOW'; then
  fault "not linked with -z now: a missing libcups function would only show half way through a run"
fi

# The libcups functions it imports, with the CUPS version the headers say
# each appeared in (no mark: older than the marks, so always there).
libcups=$(find "$root/usr/lib" "$root/lib" -name libcups.so.2 2>/dev/null | head -n1)
[ -n "$libcups" ] || { fault "no libcups.so.2 under $root"; exit 1; }
cups_defines=$(nm -D --defined-only "$libcups" | awk '{ print $NF }' | sort -u)
imports=$(objdump -T "$binary" | awk '$0 ~ /\*UND\*/ && $(NF-1) !~ /GLIBC/ && $2 != "w" { print $NF }' | sort -u)
cups_imports=$(comm -12 <(echo "$imports") <(echo "$cups_defines"))
for symbol in $(comm -23 <(echo "$imports") <(echo "$cups_defines")); do
  fault "imports $symbol, which neither libcups nor the C library provides"
done
marks=$(cat "$root"/usr/include/cups/*.h | perl -0777 -ne '
  s{/\*.*?\*/}{}gs; s{//[^\n]*}{}g;
  for my $statement (split /[;{}]/) {
    next unless $statement =~ /\b(\w+)\s*\(/;
    my $name = $1;
    my $since = $statement =~ /_CUPS_API_(\d+)_(\d+)/ ? "$1.$2" : "old";
    print "$name $since\n";
  }')
newest_mark=none
for symbol in $cups_imports; do
  since=$(awk -v s="$symbol" '$1 == s { print $2; exit }' <<<"$marks")
  if [ -z "$since" ]; then fault "imports $symbol, which the libcups headers do not declare"; continue; fi
  if [ "$since" != old ] && newer "$since" "$max_cups_api"; then
    fault "imports $symbol, which libcups offers only since CUPS $since"
  fi
  if [ "$since" != old ] && { [ "$newest_mark" = none ] || newer "$since" "$newest_mark"; }; then newest_mark=$since; fi
done
echo "libcups: $(echo $cups_imports | wc -w) functions, the newest from CUPS $newest_mark (at most $max_cups_api allowed)"

if [ "$faults" -gt 0 ]; then
  echo "check-binary: $binary breaks $faults rule(s) above" >&2
  exit 1
fi
echo "check-binary: $binary may ship"
