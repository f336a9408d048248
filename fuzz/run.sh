#!/usr/bin/env bash
# run.sh SECONDS [CORPUS_DIR [LIBFUZZER_FLAG...]]
#
# Fuzzes the DAT reader for 25 % of SECONDS, the scan path (NIfTI, NRRD,
# MetaImage) for 25 %, DICOM files for 20 %, the label-table and colour-map
# parsers of overlay layers for 8 %, the scene-file parser for 8 % and the
# transfer-function file parser for the rest, one after the other on one core.
# Configures build-fuzz with the 'fuzz' preset if that has not been done,
# builds kelvara-dat-fuzzer, kelvara-scan-fuzzer, kelvara-dicom-fuzzer,
# kelvara-layer-table-fuzzer, kelvara-scene-file-fuzzer and
# kelvara-transfer-function-fuzzer, writes their starting inputs to
# build-fuzz/fuzz-start, build-fuzz/fuzz-start-scan, build-fuzz/fuzz-start-dicom
# (with pydicom), build-fuzz/fuzz-start-layer-table, build-fuzz/fuzz-start-scene
# and build-fuzz/fuzz-start-transfer-function and grows CORPUS_DIR (default:
# fuzz/corpus-run, ignored by git), CORPUS_DIR-scan, CORPUS_DIR-dicom,
# CORPUS_DIR-layer-table, CORPUS_DIR-scene and CORPUS_DIR-transfer-function
# from them. Works from a clean checkout; CI runs `fuzz/run.sh 60`.
#
# Exits non-zero on a finding (crash, sanitizer report, broken invariant,
# timeout or memory limit); the input that caused it is kept in
# build-fuzz/fuzz-artifacts/ and replays with the fuzzer that found it, e.g.
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
artifacts=$build/fuzz-artifacts

cd "$root"
if [[ ! -f $build/CMakeCache.txt ]]; then
    cmake --preset fuzz
fi
cmake --build "$build" --target kelvara-dat-fuzzer kelvara-scan-fuzzer kelvara-scan-corpus \
    kelvara-dicom-fuzzer kelvara-layer-table-fuzzer kelvara-scene-file-fuzzer \
    kelvara-transfer-function-fuzzer
mkdir -p "$artifacts"
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}
# The leaks that are ITK's own when it refuses a file (tests/lsan.supp) are not
# findings; ours are.
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/tests/lsan.supp}

# fuzz NAME SECONDS CORPUS STARTERS MAKE_STARTERS [LIBFUZZER_FLAG...]
fuzz() {
    local name=$1 time=$2 corpus=$3 starters=$4 make=$5
    shift 5
    local fuzzer=$build/bin/$name log=$build/$name-last-run.log
    rm -rf "$starters"
    "$make" "$starters"
    mkdir -p "$corpus"
    # One process, one thread: the machines running this are shared.
    local status=0 start=$SECONDS
    "$fuzzer" "$corpus" "$starters" \
        -max_total_time="$time" -rss_limit_mb=2048 -max_len=65536 -timeout=10 \
        -artifact_prefix="$artifacts/" -print_final_stats=1 "$@" 2>&1 | tee "$log" ||
        status=${PIPESTATUS[0]}

    local elapsed=$((SECONDS - start))
    # The final statistics are missing when the run ends on a finding.
    local executions files bytes
    executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    files=$(find "$corpus" -type f | wc -l)
    bytes=$(find "$corpus" -type f -printf '%s\n' | awk '{ n += $1 } END { print n + 0 }')
    echo "$name: ${executions:-?} executions in ${elapsed} s;" \
        "corpus $corpus: $files inputs, $bytes bytes"
    if [[ $status -ne 0 ]]; then
        echo "$name: FINDING (exit status $status); see $log and $artifacts/" >&2
    fi
    return "$status"
}

datSeconds=$((seconds * 25 / 100 > 0 ? seconds * 25 / 100 : 1))
scanSeconds=$((seconds * 25 / 100 > 0 ? seconds * 25 / 100 : 1))
dicomSeconds=$((seconds * 20 / 100 > 0 ? seconds * 20 / 100 : 1))
layerTableSeconds=$((seconds * 8 / 100 > 0 ? seconds * 8 / 100 : 1))
sceneSeconds=$((seconds * 8 / 100 > 0 ? seconds * 8 / 100 : 1))
transferSeconds=$((seconds - datSeconds - scanSeconds - dicomSeconds - layerTableSeconds -
    sceneSeconds))
transferSeconds=$((transferSeconds > 0 ? transferSeconds : 1))
status=0
fuzz kelvara-dat-fuzzer "$datSeconds" "$corpus" "$build/fuzz-start" \
    "$root/fuzz/make-corpus.sh" "$@" || status=$?
fuzz kelvara-scan-fuzzer "$scanSeconds" "$corpus-scan" "$build/fuzz-start-scan" \
    "$build/bin/kelvara-scan-corpus" "$@" || status=$?
# Mutated DICOM files still find a further GDCM assertion within a minute
# (docs/reliability.md): by default the DICOM target replays its starting
# inputs and corpus, so that a run says whether what is mended stays mended;
# KELVARA_FUZZ_DICOM=mutate fuzzes it like the others.
dicomFlags=(-runs=0)
if [[ ${KELVARA_FUZZ_DICOM:-} == mutate ]]; then
    dicomFlags=()
fi
fuzz kelvara-dicom-fuzzer "$dicomSeconds" "$corpus-dicom" "$build/fuzz-start-dicom" \
    "$root/fuzz/make-dicom-corpus.py" "${dicomFlags[@]}" "$@" || status=$?
fuzz kelvara-layer-table-fuzzer "$layerTableSeconds" "$corpus-layer-table" \
    "$build/fuzz-start-layer-table" "$root/fuzz/make-layer-table-corpus.sh" "$@" || status=$?
fuzz kelvara-scene-file-fuzzer "$sceneSeconds" "$corpus-scene" "$build/fuzz-start-scene" \
    "$root/fuzz/make-scene-corpus.sh" "$@" || status=$?
fuzz kelvara-transfer-function-fuzzer "$transferSeconds" "$corpus-transfer-function" \
    "$build/fuzz-start-transfer-function" "$root/fuzz/make-transfer-corpus.sh" "$@" || status=$?
exit "$status"
