#!/usr/bin/env bash
# make-layer-table-corpus.sh DIR: writes the layer-table fuzzer's starting
# inputs into DIR. The first byte of each picks the parser (layertablefuzzer.cpp):
# \000 a label table named .txt, \002 one named .ctbl, \001 a colour map.
set -euo pipefail

dir=${1:?usage: make-layer-table-corpus.sh DIR}
mkdir -p "$dir"

# start NAME SELECTOR: the selector byte, then standard input.
start() {
    { printf "\\$2"; cat; } >"$dir/start-$1"
}

start itk-snap.txt 000 <<'TXT'
# ITK-SnAP Label Description File
    0     0    0    0        0  0  0    "Clear Label"
    1   255    0    0        1  1  1    "Label 1"
   12     0  128   64      0.5  0  1    "Left  hippocampus"
TXT
start freesurfer.txt 000 <<'TXT'
#No. Label Name                R   G   B   A
0   Unknown                   0   0   0   0
17  Left-Hippocampus        220 216  20   0
53  Right-Hippocampus       220 216  20  55
TXT
start slicer.ctbl 002 <<'TXT'
# Color table file
0 background 0 0 0 0
17 Left-Hippocampus 220 216 20 255
65535 last 1 2 3 128
TXT
start plain.txt 000 <<'TXT'
0 Background
37 Hippocampus_L
38 Hippocampus left
TXT
printf '\000# mixed\n1 255 0 0 1 1 1 "A"\n17 Left 220 216 20 0\n' >"$dir/start-bad-mix.txt"
printf '\0001 A 0 256 0 70000\n' >"$dir/start-bad-range.txt"

start paraview.json 001 <<'JSON'
[{"Name": "Fire", "ColorSpace": "RGB",
  "RGBPoints": [-10, 0, 0, 0, 0, 1, 0, 0, 0, 1, 0.5, 0, 10, 1, 1, 1]}]
JSON
start paraview-object.json 001 <<'JSON'
{"RGBPoints": [0, 0, 0, 1, 1, 1, 1, 0]}
JSON
printf '\001[{"RGBPoints": [0, 0, 0, 0,\n 1, 2, 1]}]' >"$dir/start-bad-paraview.json"

# A lookup table of 768 bytes (red rising, green falling, blue in steps), and
# the 800-byte form with its header.
lookupTable() {
    local i
    for i in $(seq 0 255); do printf "\\$(printf %03o "$i")"; done
    for i in $(seq 255 -1 0); do printf "\\$(printf %03o "$i")"; done
    for i in $(seq 0 255); do printf "\\$(printf %03o $((i / 32 * 32)))"; done
}
{ printf '\001'; lookupTable; } >"$dir/start-ramp.lut"
{ printf '\001'; head -c 32 /dev/zero; lookupTable; } >"$dir/start-header.lut"
