#!/usr/bin/env bash
# make-transfer-corpus.sh DIR: writes the transfer-function fuzzer's starting
# inputs into DIR: our own file form and ParaView colour maps, good and bad.
set -euo pipefail

dir=${1:?usage: make-transfer-corpus.sh DIR}
mkdir -p "$dir"

cat >"$dir/start-kelvara.json" <<'JSON'
{"kelvara-transfer-function": 1,
 "red": [[0, 0, 1], [0.25, 0.5], [1, 1, 2]],
 "green": [[0, 0, 1], [0.5, 0.5], [0.5, 0.75], [1, 1, 2]],
 "blue": [[0, 1, 1], [1, 0, 2]],
 "alpha": [[0, 0, 1], [0.1, 0], [0.2, 1], [1, 1, 2]]}
JSON
cat >"$dir/start-paraview.json" <<'JSON'
[{"Name": "map", "ColorSpace": "RGB",
  "RGBPoints": [-1024, 0, 0, 0, 0, 1, 0.5, 0.25, 3071, 1, 1, 1],
  "Points": [-1024, 0, 0.5, 0, 500, 0.5, 0.5, 0, 3071, 1, 0.5, 0]}]
JSON
cat >"$dir/start-paraview-outside.json" <<'JSON'
{"RGBPoints": [-5000, 1, 0, 0, -5000, 0, 1, 0, 9000, 0, 0, 1]}
JSON
printf '{"kelvara-transfer-function": 1, "red": [[0, 2]]}' >"$dir/start-bad-range.json"
printf '[{"RGBPoints": [0, 1, 0]}]' >"$dir/start-bad-count.json"
printf '{"kelvara-transfer-function": 1, "red": [[0.5, 0], [0.25, 1]], "green": [], "blue": [], "alpha": []}' \
    >"$dir/start-bad-order.json"
