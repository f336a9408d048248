#!/usr/bin/env bash
# Sets up a Debian 12 machine for Kelvara, builds it, and then either opens the
# viewer on a sample volume ("run") or runs every test ("test").
#
#   tools/setup.sh run    install what is missing, build, open the viewer on
#                         the head phantom with the "skin" transfer function
#   tools/setup.sh test   install what is missing, build, run all checks:
#                         that the package list covers the build and tests,
#                         the formatting of the sources, the test suite in the
#                         optimised build and under
#                         AddressSanitizer/UBSan/LeakSanitizer, and a short
#                         fuzzing run of the DAT parser and the scan readers
#                         (two fifths of the time each) and the
#                         transfer-function file parser
#
# Tests that need OpenGL run under Xvfb with Mesa's software rasteriser when
# no display is available.
set -euo pipefail

mode="${1:-run}"
cd "$(dirname "$0")/.."

# The package list lives in tools/packages.txt, which the dependency check of
# the test command reads too.
mapfile -t packages < <(sed -e 's/#.*//' -e '/^[[:space:]]*$/d' tools/packages.txt)
missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done
if ((${#missing[@]})); then
    sudo=""
    if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
    echo "== Installing: ${missing[*]}"
    $sudo apt-get update -q
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

jobs="$(nproc)"

configure() {
    cmake --preset "$1" >/dev/null
}

build() {
    local preset="$1"
    echo "== Building preset $preset"
    configure "$preset"
    cmake --build --preset "$preset" -j "$jobs"
}

# Runs a command on the current display, or on a private Xvfb when there is none.
with_display() {
    if [ -n "${DISPLAY:-}" ]; then
        "$@"
    else
        xvfb-run -a -s "-screen 0 1280x1024x24" "$@"
    fi
}

case "$mode" in
run)
    build release
    # A preset that shows the phantom at once (the start-up ramp is opaque
    # black at value 0, so it shows nothing but black).
    with_display ./build/bin/kelvara build/samples/head.dat --transfer-function skin
    ;;
test)
    echo "== Checking that tools/packages.txt covers what the build and tests use"
    for preset in release asan fuzz; do configure "$preset"; done
    tools/check-dependencies.sh build build-asan build-fuzz
    echo "== Checking the formatting of the C++ sources"
    # A checkout lists its tracked sources; a source archive has no git, and
    # every source below the project's folders is then checked.
    if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
        git ls-files -z '*.cpp' '*.h'
    else
        find app bench fuzz render scene slicing tests tools transfer volume \
            \( -name '*.cpp' -o -name '*.h' \) -print0
    fi | xargs -0 clang-format --dry-run --Werror
    build release
    echo "== Tests (optimised build)"
    (cd build && with_display ctest --output-on-failure -j "$jobs")
    build asan
    echo "== Tests (AddressSanitizer, UndefinedBehaviorSanitizer, LeakSanitizer)"
    # The sanitizer options (leak check, suppressions) come with each test.
    (cd build-asan && with_display ctest --output-on-failure -j "$jobs")
    if [ -x fuzz/run.sh ]; then
        echo "== Fuzzing the DAT parser, the scan readers and the transfer-function file parser (60 seconds)"
        fuzz/run.sh 60
    fi
    ;;
*)
    echo "usage: tools/setup.sh run|test" >&2
    exit 2
    ;;
esac
