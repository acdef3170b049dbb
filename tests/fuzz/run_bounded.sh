#!/bin/sh
# run_bounded.sh <fuzzer> <tests/fuzz folder> <target> <work directory> <seconds>: replays the
# target's corpus and the inputs of faults found earlier, then searches for the given seconds in a
# fresh copy of the corpus. A crash, sanitizer report, hang or broken invariant fails the test.
set -eu
fuzzer=$1 source=$2 target=$3 work=$4 seconds=$5
rm -rf "$work"
mkdir -p "$work/corpus" "$work/artifacts"
cp "$source/corpus/$target/"* "$work/corpus/"
set -- "$work/corpus"
[ -d "$source/regressions/$target" ] && set -- "$@" "$source/regressions/$target"
[ -f "$source/$target.dict" ] && set -- -dict="$source/$target.dict" "$@"
tmp=$(mktemp -d) # the target's own folder, removed even when it died
trap 'rm -rf "$tmp"' EXIT
TMPDIR=$tmp "$fuzzer" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$work/artifacts/" "$@"
