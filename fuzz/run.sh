#!/usr/bin/env bash
# run.sh SECONDS [CORPUS_DIR [LIBFUZZER_FLAG...]]
#
# Fuzzes the DAT reader for SECONDS on one core. Configures build-fuzz with the
# 'fuzz' preset if that has not been done, builds kelvara-dat-fuzzer, writes the
# starting inputs to build-fuzz/fuzz-start and grows CORPUS_DIR (default:
# fuzz/corpus-run, ignored by git) from them. Works from a clean checkout; CI
# runs `fuzz/run.sh 60`.
#
# Exits non-zero on a finding (crash, sanitizer report, broken invariant,
# timeout or memory limit); the input that caused it is kept in
# build-fuzz/fuzz-artifacts/ and replays with
#   build-fuzz/bin/kelvara-dat-fuzzer build-fuzz/fuzz-artifacts/crash-...
set -euo pipefail

if [[ $# -lt 1 || ! $1 =~ ^[1-9][0-9]*$ ]]; then
    echo "usage: $0 SECONDS [CORPUS_DIR [LIBFUZZER_FLAG...]]" >&2
    exit 2
fi
seconds=$1
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
corpus=$(realpath -m "${2:-$root/fuzz/corpus-run}")
shift $(($# < 2 ? $# : 2))

build=$root/build-fuzz
fuzzer=$build/bin/kelvara-dat-fuzzer
starters=$build/fuzz-start
artifacts=$build/fuzz-artifacts
log=$build/fuzz-last-run.log

cd "$root"
if [[ ! -f $build/CMakeCache.txt ]]; then
    cmake --preset fuzz
fi
cmake --build "$build" --target kelvara-dat-fuzzer

rm -rf "$starters"
"$root/fuzz/make-corpus.sh" "$starters"
mkdir -p "$corpus" "$artifacts"

export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}
# One process, one thread: the machines running this are shared.
status=0
start=$SECONDS
"$fuzzer" "$corpus" "$starters" \
    -max_total_time="$seconds" -rss_limit_mb=2048 -max_len=65536 -timeout=10 \
    -artifact_prefix="$artifacts/" -print_final_stats=1 "$@" 2>&1 | tee "$log" ||
    status=${PIPESTATUS[0]}

elapsed=$((SECONDS - start))
# The final statistics are missing when the run ends on a finding.
executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
files=$(find "$corpus" -type f | wc -l)
bytes=$(find "$corpus" -type f -printf '%s\n' | awk '{ n += $1 } END { print n + 0 }')
echo "kelvara-dat-fuzzer: ${executions:-?} executions in ${elapsed} s;" \
    "corpus $corpus: $files inputs, $bytes bytes"
if [[ $status -ne 0 ]]; then
    echo "kelvara-dat-fuzzer: FINDING (exit status $status); see $log and $artifacts/" >&2
fi
exit "$status"
