#!/bin/sh
# Volumes beyond one texture and beyond memory: the path each takes (one
# texture, blocks, or a reduced level of a mapped file), load time, first
# frame, frame time at 512 x 512 and peak resident memory; and a full-
# resolution slice of the largest. The figures of docs/performance.md.
# Run it from the repository root (the frames need a display):
#
#   xvfb-run -a -s "-screen 0 1280x1024x24" bench/bigvolumes.sh [BUILD_DIR] [WORK_DIR]
#
# WORK_DIR (default: a new temporary folder) receives about 20 GB of volumes;
# each is made once and kept there for the next run. Each frame line is one
# kelvara-bench frame run (median of 3 frames in new orientations after the
# first, which uploads the textures); level=K: the 3D view's voxels are 2^K
# voxels apart (0: full resolution); blocks: the textures it is held in.
set -e
build=$(cd "${1:-build}" && pwd)
work=${2:-$(mktemp -d)}
root=$(cd "$(dirname "$0")/.." && pwd)
bench="$build/bin/kelvara-bench"
make="$build/bin/kelvara-make-volume"
options="--size 512x512 --samples 200 --frames 3 --stops 0:#00000000,0.3:#00000000,0.5:#40ffffff,1:#ffffffff"
cd "$work"

volume() { # NAME PHANTOM SIZE: NAME.nii and, unless KEEP is no, NAME.dat, made once
    [ -f "$1.nii" ] && { [ "$4" = no ] || [ -f "$1.dat" ]; } && return
    [ -f "$1.dat" ] || "$make" "$2" "$3" "$1.dat"
    [ -f "$1.nii" ] || python3 "$root/bench/dat-to-nifti.py" "$1.dat" "$1.nii"
    if [ "$4" = no ]; then rm -f "$1.dat"; fi
}
frame() { # FILE [OPTIONS]: one line
    file=$1
    shift
    "$bench" frame "$file" $options "$@" 2>&1 | grep -E '^frame|kelvara-bench:' || true
}

volume head-512 head 512x512x512
volume head-1024 head 1024x1024x1024
volume head-1536 head 1536x1536x768
volume box-2048 box 2048x2048x1024 no

echo "# one texture, blocks, and a reduced level by the texture budget"
frame head-512.nii
frame head-1024.dat
frame head-1024.nii
frame head-1536.nii
frame head-1024.nii --gpu-budget 1024
echo "# beyond memory: 8 GiB of uint16, 16 GiB as floats"
frame box-2048.nii
echo "# a full-resolution slice of it, from the mapped file (load included)"
/usr/bin/time -f "slice wall_s=%e peak_kb=%M" "$build/bin/kelvara" box-2048.nii \
    --output slice-2048.png --slice axial:700 2>&1 | grep -E '^slice|Error' || true
