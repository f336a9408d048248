#!/bin/sh
# Frame time against volume size and image size, load time and peak memory
# against volume size, and where the largest volumes stop; the figures of
# docs/performance.md. Run it under Xvfb from the repository root:
#
#   xvfb-run -a -s "-screen 0 1280x1024x24" bench/scale.sh [BUILD_DIR] [WORK_DIR]
#
# WORK_DIR (default: a new temporary folder) receives the volumes, up to about
# 2.5 GB of them. Each line is one kelvara-bench frame run (median of 5 frames
# after one excluded first frame, each in a new orientation); first_ms is the
# first frame with the program build and the texture uploads, load_ms the
# file read, peak_mb the process's peak resident memory (llvmpipe keeps its
# textures in host memory). The noisy phantom has no empty space, so these are
# the slow case; grey ramp with opacity = value, Phong shading, no depth cueing.
set -e
build=$(cd "${1:-build}" && pwd)
work=${2:-$(mktemp -d)}
bench="$build/bin/kelvara-bench"
make="$build/bin/kelvara-make-volume"
options="--stops 0:#00000000,1:#ffffffff --lighting 0.2,0.8,1.0,16 --depth-cueing 0,0 --frames 5"
# Run from a folder without a FragmentShader.glsl: the shader beside the program.
cd "$work"

echo "# volume size (512 x 512 image, 200 samples)"
for n in 128 256 384 512; do
    [ -f "noisy-head-$n.dat" ] || "$make" noisy-head "${n}x${n}x${n}" "noisy-head-$n.dat"
    "$bench" frame "noisy-head-$n.dat" --size 512x512 --samples 200 $options 2>/dev/null |
        grep '^frame'
done

echo "# image size (noisy head 256^3, 200 samples)"
for size in 256 512 768 1024; do
    "$bench" frame noisy-head-256.dat --size "${size}x${size}" --samples 200 $options \
        2>/dev/null | grep '^frame'
done

echo "# the largest volumes (uniform, 256 x 256 image, 50 samples)"
for n in 768x768x768 1024x1024x768 1024x1024x1023 4096x16x16; do
    [ -f "uniform-$n.dat" ] || "$make" uniform "$n" "uniform-$n.dat"
    "$bench" frame "uniform-$n.dat" --size 256x256 --samples 50 --frames 1 2>&1 |
        grep -E '^frame|kelvara-bench:' || true
    rm -f "uniform-$n.dat"
done
