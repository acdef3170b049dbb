#!/bin/sh
# One bounded fuzzing run for CTest: fuzzes a fresh copy of the target's seed
# corpus, so that the run never grows the repository, with the inputs of
# faults found earlier read as they are and the target's dictionary if it
# has one. libFuzzer exits non-zero on a crash, a sanitizer report, a hang or
# a broken invariant, and saves the input in the work directory.
#   run_bounded.sh <fuzzer> <tests/fuzz folder> <target> <work directory> <seconds>
set -eu
fuzzer=$1 source=$2 target=$3 work=$4 seconds=$5

rm -rf "$work"
mkdir -p "$work/corpus" "$work/artifacts"
cp "$source/corpus/$target/"* "$work/corpus/"
set -- "$work/corpus"
if [ -d "$source/regressions/$target" ]; then
    set -- "$@" "$source/regressions/$target"
fi
if [ -f "$source/$target.dict" ]; then
    set -- -dict="$source/$target.dict" "$@"
fi

# The target's own temporary folder goes in one of the run's, which is
# removed even when the target died without cleaning up behind it.
tmp=$(mktemp -d "${TMPDIR:-/dev/shm}/corvina_fuzz_run_XXXXXX" 2>/dev/null || mktemp -d)
trap 'rm -rf "$tmp"' EXIT
TMPDIR=$tmp "$fuzzer" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$work/artifacts/" "$@"
