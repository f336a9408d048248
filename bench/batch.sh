#!/bin/sh
# Batch-mode throughput: thumbnails per minute of 16 scans rendered one process
# per file, all in one process (--output-dir), and one process per file under
# GNU parallel -j2; and the start-up of one small render through EGL (no
# display) and through Xvfb (xvfb-run plus the GLX backend). The figures of
# docs/batch.md. From the repository root:
#
#   bench/batch.sh [BUILD_DIR] [WORK_DIR]
#
# Needs GNU parallel for its third column and xvfb-run for the last line.
set -e
build=$(cd "${1:-build}" && pwd)
work=${2:-$(mktemp -d)}
kelvara="$build/bin/kelvara"
make="$build/bin/kelvara-make-volume"
options="--size 256x256 --transfer-function skin"
cd "$work"

seconds() { # the wall time of a command, in seconds
    start=$(date +%s.%N)
    "$@" >/dev/null 2>&1
    end=$(date +%s.%N)
    echo "$start $end" | awk '{printf "%.2f", $2 - $1}'
}
perMinute() { echo "$1 $2" | awk '{printf "%.0f", 60 * $1 / $2}'; }

echo "# thumbnails (256 x 256, skin) per minute, 16 files"
echo "size  one-process-each  output-dir  parallel-j2"
for n in 128 256; do
    mkdir -p "scans-$n" "out-$n"
    for i in $(seq -w 1 16); do
        [ -f "scans-$n/head-$i.dat" ] || "$make" head "${n}x${n}x${n}" "scans-$n/head-$i.dat" >/dev/null
    done
    each=$(seconds sh -c "for f in scans-$n/*.dat; do \"$kelvara\" \"\$f\" --output \"out-$n/\$(basename \"\$f\" .dat).png\" $options; done")
    folder=$(seconds "$kelvara" scans-$n/*.dat --output-dir "out-$n" $options)
    if command -v parallel >/dev/null; then
        parallel=$(seconds parallel -j2 "\"$kelvara\" {} --output out-$n/{/.}.png $options" ::: scans-$n/*.dat)
        parallel=$(perMinute 16 "$parallel")
    else
        parallel=-
    fi
    echo "$n^3  $(perMinute 16 "$each")  $(perMinute 16 "$folder")  $parallel"
done

echo "# start-up: one 32^3 volume at 64 x 64, median of 5 (seconds)"
[ -f small.dat ] || "$make" head 32x32x32 small.dat >/dev/null
for way in egl xvfb; do
    times=""
    for i in 1 2 3 4 5; do
        if [ $way = egl ]; then
            t=$(seconds env -u DISPLAY "$kelvara" small.dat --output s.png --size 64x64)
        else
            t=$(seconds xvfb-run -a "$kelvara" small.dat --output s.png --size 64x64 --backend glx)
        fi
        times="$times $t"
    done
    echo "$way $(echo $times | tr ' ' '\n' | sort -n | sed -n 3p)"
done
