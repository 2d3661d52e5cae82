#!/usr/bin/env bash
# Plants each fault of scripts/mutations.txt in the source tree, one at a time,
# rebuilds the test program in build/native-asan, runs the tests chosen for
# that fault, and prints whether they caught it ("killed") or not ("survived").
# Run by hand, not by the test run: about a minute a fault on two cores.
#
#   bash scripts/mutate.sh             every fault of the list
#   bash scripts/mutate.sh NAME...     only these
#   bash scripts/mutate.sh --list      the names
#
# The file a fault touches is copied aside first and put back byte for byte
# after the fault's run, on any exit too (an interrupt, a failed build); the
# script refuses to start while that file differs from what git has, so that
# nothing of a developer's own is ever at stake.  Afterwards the build tree is
# rebuilt from the restored sources.
#
# OSTREL_TEST_LOCK=FILE makes each test run hold flock(1) on FILE, where
# several people share one machine.  OSTREL_MUTATE_TIMEOUT (seconds, 600 by
# default) bounds each test run: a hang counts as caught.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
list=scripts/mutations.txt
build=build/native-asan
timeout_s=${OSTREL_MUTATE_TIMEOUT:-600}

names() { sed -n 's/^== \([^ |]*\).*/\1/p' "$list"; }
if [ "${1:-}" = "--list" ]; then names; exit 0; fi
wanted=("$@")
[ "${#wanted[@]}" -gt 0 ] || mapfile -t wanted < <(names)

# field N (1-4) of fault NAME's heading line.
field() {
  awk -F' [|] ' -v name="$1" -v n="$2" '$0 ~ "^== " {sub(/^== /, "", $1); if ($1 == name) {print $n; exit}}' "$list"
}

# Applies (or, with "check", only checks) fault NAME's edits to FILE: every
# old text must occur exactly once.  Exit 0 when done, 3 when a text is gone.
edit() {
  perl -e '
    my ($list, $name, $file, $mode) = @ARGV;
    open(my $l, "<", $list) or die "$list: $!\n";
    my ($in, @pairs, $old) = (0);
    while (<$l>) {
      chomp;
      if (/^== (\S+)/) { $in = ($1 eq $name); next; }
      next unless $in;
      if (/^- ?(.*)$/) { $old = $1; next; }
      if (/^\+ ?(.*)$/) { push @pairs, [$old, $1]; next; }
    }
    die "no edits for $name\n" unless @pairs;
    open(my $f, "<", $file) or die "$file: $!\n";
    local $/; my $text = <$f>; close $f;
    for my $p (@pairs) {
      my ($o, $n) = map { (my $t = $_) =~ s/\\n/\n/g; $t } @$p;
      my $count = () = $text =~ /\Q$o\E/g;
      if ($count != 1) { print STDERR "  \"$p->[0]\" occurs $count times in $file\n"; exit 3; }
      $text =~ s/\Q$o\E/$n/;
    }
    exit 0 if $mode eq "check";
    open(my $w, ">", $file) or die "$file: $!\n"; print $w $text; close $w;
  ' "$list" "$1" "$2" "$3"
}

saved=""
saved_file=""
restore() {
  if [ -n "$saved" ]; then
    # A plain copy: the restored file is newer than the fault's object files,
    # so the next build compiles it again.
    cp "$saved" "$saved_file" && rm -f "$saved"
    saved=""
  fi
}
trap 'restore; exit 130' INT TERM
trap restore EXIT

[ -d "$build" ] || cmake --preset native-asan >/dev/null
declare -A result
for name in "${wanted[@]}"; do
  file=$(field "$name" 2)
  program=$(field "$name" 3)
  filter=$(field "$name" 4)
  if [ -z "$file" ]; then echo "$name: not in $list"; result[$name]="unknown"; continue; fi
  if ! git diff --quiet -- "$file"; then
    echo "$name: $file has changes of its own: commit or set them aside first" >&2
    exit 2
  fi
  if ! edit "$name" "$file" check; then result[$name]="stale (the list no longer matches $file)"; echo "$name: ${result[$name]}"; continue; fi
  saved=$(mktemp "/tmp/ostrel-mutate.XXXXXX")
  saved_file=$file
  cp -p "$file" "$saved"
  edit "$name" "$file" apply
  case $program in
    unit_tests) binary=$root/$build/tests/unit/unit_tests ;;
    script_runtime_tests) binary=$root/$build/tests/script_runtime/script_runtime_tests ;;
    *) binary="" ;;
  esac
  start=$(date +%s)
  if ! cmake --build "$build" -j2 --target "$program" >"/tmp/ostrel-mutate-build.log" 2>&1; then
    if grep -q "unknown target" /tmp/ostrel-mutate-build.log; then
      result[$name]="not run ($program is not built here)"
    else
      result[$name]="killed (does not compile)"
    fi
  else
    run=("$binary" "--gtest_filter=$filter")
    [ -n "${OSTREL_TEST_LOCK:-}" ] && run=(flock "$OSTREL_TEST_LOCK" "${run[@]}")
    (cd "$build" && ASAN_OPTIONS=detect_leaks=0 timeout "$timeout_s" "${run[@]}") \
      >"/tmp/ostrel-mutate-$name.log" 2>&1
    status=$?
    if [ "$status" = 0 ]; then
      result[$name]="survived"
    elif [ "$status" = 124 ]; then
      result[$name]="killed (hang)"
    else
      log=/tmp/ostrel-mutate-$name.log
      failed=$(sed -n 's/^\[  FAILED  \] \([A-Za-z0-9_.\/]*\) (.*/\1/p' "$log" | sort -u | tr '\n' ' ')
      if [ -n "$failed" ]; then
        result[$name]="killed by ${failed% }"
      elif grep -qE "ERROR: AddressSanitizer|runtime error:" "$log"; then
        # The sanitizers end the program in the test that was running.
        running=$(sed -n 's/^\[ RUN      \] //p' "$log" | tail -n 1)
        result[$name]="killed by the sanitizers in $running"
      else
        result[$name]="killed (status $status)"
      fi
    fi
  fi
  restore
  if ! git diff --quiet -- "$file"; then echo "$name: $file was not restored" >&2; exit 1; fi
  echo "$name: ${result[$name]} ($(( $(date +%s) - start )) s)"
done
trap - EXIT

echo "== rebuilding from the restored sources"
targets=(unit_tests)
[ -e "$build/tests/script_runtime/script_runtime_tests" ] && targets+=(script_runtime_tests)
cmake --build "$build" -j2 --target "${targets[@]}" >/dev/null 2>&1 || echo "rebuild failed" >&2
killed=0 survived=0 other=0
for name in "${wanted[@]}"; do
  case ${result[$name]:-} in killed*) killed=$((killed + 1)) ;; survived) survived=$((survived + 1)) ;; *) other=$((other + 1)) ;; esac
done
echo "== $killed killed, $survived survived, $other not run, of ${#wanted[@]}"
for name in "${wanted[@]}"; do [ "${result[$name]:-}" = survived ] && echo "survived: $name"; done
[ "$survived" = 0 ]
