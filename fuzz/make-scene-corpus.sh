#!/usr/bin/env bash
# make-scene-corpus.sh DIR: writes the scene-file fuzzer's starting inputs
# into DIR: scenes of one base layer, of a base with a label map and with an
# image layer, one with every top-level key, and broken ones.
set -euo pipefail

dir=${1:?usage: make-scene-corpus.sh DIR}
mkdir -p "$dir"

cat >"$dir/start-base.kelvara" <<'JSON'
{"kelvara-scene": 1, "layers": [{"file": "t1.nii.gz"}]}
JSON
cat >"$dir/start-labels.kelvara" <<'JSON'
{"kelvara-scene": 1,
 "layers": [{"file": "/data/t1.mgz"},
            {"file": "aseg.mgz", "kind": "labels", "opacity": 0.5, "visible": true,
             "outline": true,
             "labels": [{"value": 53, "name": "Right-Hippocampus", "color": "#80dcd814"},
                        {"value": 0, "visible": false},
                        {"value": 17, "name": "Left-Hippocampus", "color": "#dcd814"},
                        {"value": 17, "name": "again", "color": "#ff0000"}]}]}
JSON
# A colour map of its own: 256 colours from blue to cyan.
colours=$(for i in $(seq 0 255); do printf '"#00%02x%02x"' "$i" 255; done | sed 's/""/", "/g')
cat >"$dir/start-image.kelvara" <<JSON
{"kelvara-scene": 1,
 "layers": [{"file": "sub/t1.nii"},
            {"file": "../zstat.nii", "kind": "image", "colormap": "Hot", "range": [2.3, 6],
             "negative": {"name": "blues", "colors": [$colours]}, "opacity": 0.75,
             "visible": false}]}
JSON
cat >"$dir/start-every-key.kelvara" <<'JSON'
{"kelvara-scene": 1,
 "layers": [{"file": "ct.nrrd", "window": [400, 40],
             "transfer-function": {"kelvara-transfer-function": 1,
                                   "red": [[0, 0, 1], [1, 1, 2]], "green": [[0, 0, 1], [1, 1, 2]],
                                   "blue": [[0, 0.5, 1], [1, 0, 2]],
                                   "alpha": [[0, 0, 1], [0.3, 0], [1, 1, 2]]}},
            {"file": "pet.nii", "colormap": "viridis", "negative": null}],
 "rendering": {"light": "#ffffffff", "ambient": "#ff373737", "diffuse": "#c8c8c8",
               "specular": "#ffffff", "k1": 0.5, "k2": 2, "exponent": 32, "samples": 400,
               "mode": "mip", "jitter": false},
 "camera": {"rotation": [-90, 450, 5761], "zoom": 2.5, "pan": [0.25, -0.5]},
 "crop": {"lower": [0.1, 0, 0.5], "upper": [0.9, 1, 0.25]},
 "slice-cut": "z", "cursor": [-12.5, 30, 4],
 "layout": {"four-views": true, "slice-axis": 2},
 "later": {"unknown": 1}}
JSON
printf '{"kelvara-scene": 1, "layers": []}' >"$dir/start-bad-no-layers.kelvara"
printf '{"kelvara-scene": 1, "layers": [{"file": "a"}], "camera": {"zoom": 40}}' \
    >"$dir/start-bad-zoom.kelvara"
printf '{"kelvara-scene": 1, "layers": [{"file": "a"}, {"kind": "labels", "file": "b",\n "labels": [{"value": 70000}]}]}' >"$dir/start-bad-labels.kelvara"
