#!/usr/bin/env bash
# make-corpus.sh DIR: writes the DAT fuzzer's starting inputs into DIR. These are
# generated rather than committed so that no binary files live in git.
set -euo pipefail

dir=${1:?usage: make-corpus.sh DIR}
mkdir -p "$dir"

# le16 N...: each N as two little-endian bytes.
le16() {
    local v
    for v in "$@"; do
        printf '%b' "$(printf '\\x%02x\\x%02x' $((v & 255)) $((v >> 8 & 255)))"
    done
}

# ramp COUNT STEP: COUNT samples 0, STEP, 2*STEP, ... wrapping at 65536, so that
# values above 4095 (clamped by the reader) appear too.
ramp() {
    local i
    for ((i = 0; i < $1; ++i)); do
        le16 $((i * $2 & 65535))
    done
}

{ le16 2 1 2; le16 0 4095 4096 65535; } >"$dir/start-2x1x2.dat"
{ le16 4 4 4; ramp 64 1031; } >"$dir/start-4x4x4.dat"
{ le16 3 3 1; ramp 9 500; } >"$dir/start-3x3x1.dat"
{ le16 1 1 1; le16 2048; } >"$dir/start-1x1x1.dat"
# Ends after 10 of 64 samples and half of the eleventh.
{ le16 4 4 4; ramp 10 409; printf '\x07'; } >"$dir/start-truncated.dat"
le16 2 2 2 >"$dir/start-header-only.dat"
{ le16 3 3 0; le16 1 2 3; } >"$dir/start-depth-0.dat"
printf '\x01\x00\x01\x00\x01' >"$dir/start-5-bytes.dat"
# Too large for any memory limit, and a volume larger than one conversion
# block (4096 samples) per slice.
le16 65535 65535 65535 >"$dir/start-huge-header.dat"
{ le16 65 65 2; ramp 300 4093; } >"$dir/start-65x65x2.dat"
