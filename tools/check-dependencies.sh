#!/usr/bin/env bash
# check-dependencies.sh [--without PACKAGE]... BUILD_DIR...
#
# Fails when a build or the tests use something that the set-up script does not
# install. A machine where packages were installed by hand builds and tests
# fine without them being in tools/packages.txt; a fresh Debian 12 machine does
# not, so this check keeps the list honest wherever it runs.
#
# Checked, each against the Debian package that owns it (dpkg -S):
#   - the CMake package configurations that configuring found (the *_DIR
#     entries of BUILD_DIR/CMakeCache.txt), the programs the build rules run
#     (compilers, archivers, ninja, cmake) and every library the build links;
#   - the programs and run-time files that the test command and the fuzzing
#     step use (xvfb-run and its helpers, the compilers, the sanitizer and
#     libFuzzer runtimes, Mesa's software rasteriser, Qt's platform plugins).
# The owner must be a package of tools/packages.txt, one that such a package
# depends on (Depends and Pre-Depends, recursively), or part of every Debian
# system (Essential or Priority required).
#
# --without PACKAGE checks as if PACKAGE were not in the list, to show that the
# check notices a package missing from it.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
without=()
builds=()
# Absolute build folders, so that the project's own paths are told apart.
while (($#)); do
    case "$1" in
    --without)
        without+=("$2")
        shift 2
        ;;
    *)
        builds+=("$(realpath -m "$1")")
        shift
        ;;
    esac
done

for build in "${builds[@]}"; do
    if [[ ! -f $build/CMakeCache.txt ]]; then
        echo "check-dependencies: $build/CMakeCache.txt is missing: configure it first" >&2
        exit 2
    fi
done

listed=()
while read -r package; do
    for omitted in "${without[@]}"; do
        [[ $package == "$omitted" ]] && continue 2
    done
    listed+=("$package")
done < <(sed -e 's/#.*//' -e '/^[[:space:]]*$/d' "$root/tools/packages.txt")

# Every package that the listed ones bring along, virtual ones and all the
# alternatives of a choice included, plus the base system.
declare -A provided=()
while read -r name; do
    provided[$name]=1
done < <(
    {
        apt-cache depends --recurse --important "${listed[@]}" 2>/dev/null |
            sed -e 's/^ *|\{0,1\}\(Pre\)\{0,1\}Depends: //' -e 's/^ *//' -e 's/[<>]//g' -e 's/:.*//'
        dpkg-query -W -f='${Package} ${Essential} ${Priority}\n' |
            awk '$2 == "yes" || $3 == "required" { print $1 }'
    } | sort -u
)
for package in "${listed[@]}"; do provided[$package]=1; done

# PATH<TAB>where it is used, one per line.
uses() {
    local build entry name value config
    for build in "${builds[@]}"; do
        while IFS= read -r entry; do
            name=${entry%%:*}
            value=${entry#*=}
            [[ $value == /* && -e $value ]] || continue
            # The project's own files and the build's outputs are not dependencies.
            [[ $value == "$root"/* || $value == "$build"/* ]] && continue
            # A package's folder can be shared by several packages: its
            # configuration file tells which one the build found.
            config=${name%_DIR}
            if [[ -d $value && -f $value/${config}Config.cmake ]]; then
                value=$value/${config}Config.cmake
            elif [[ -d $value && -f $value/${config,,}-config.cmake ]]; then
                value=$value/${config,,}-config.cmake
            fi
            printf '%s\t%s in %s\n' "$value" "$name" "$build/CMakeCache.txt"
        done < <(grep -E '^[A-Za-z0-9_]+_DIR:PATH=' "$build/CMakeCache.txt")
        # What configuring found but the build never runs or links (a second
        # linker, a library nothing links) is no dependency.
        grep -oE '(^| )/[^ ;:$]+' "$build/CMakeFiles/rules.ninja" | sed 's/^ //' | sort -u |
            while read -r program; do
                if [[ -f $program && -x $program && $program != "$root"/* ]]; then
                    printf '%s\t%s\n' "$program" "run by the build rules of $build"
                fi
            done
        grep -h 'LINK_LIBRARIES = ' "$build/build.ninja" | tr ' ' '\n' | grep '^/' | sort -u |
            sed "s|\$|\tlinked by $build|"
    done
    local program path
    for program in xvfb-run Xvfb xauth mcookie getopt cmake ctest ninja g++ clang clang++ \
        clang-format git; do
        path=$(command -v "$program" || true)
        if [[ -z $path ]]; then
            printf '%s\t%s\n' "(program $program)" "called by the test command"
        else
            printf '%s\t%s\n' "$path" "program called by the test command"
        fi
    done
    local runtime
    runtime=$(clang++ --print-runtime-dir 2>/dev/null || echo /nonexistent)
    for path in "$runtime"/libclang_rt.fuzzer-x86_64.a "$runtime"/libclang_rt.asan-x86_64.a \
        "$runtime"/libclang_rt.ubsan_standalone-x86_64.a; do
        printf '%s\t%s\n' "$path" "clang runtime of the fuzzing step"
    done
    for path in libasan.so libubsan.so; do
        printf '%s\t%s\n' "$(g++ -print-file-name=$path 2>/dev/null)" "g++ runtime of the asan build"
    done
    local qtplugins=/usr/lib/x86_64-linux-gnu/qt6/plugins/platforms
    printf '%s\t%s\n' /usr/lib/x86_64-linux-gnu/dri/swrast_dri.so "Mesa driver of the GL tests" \
        /usr/lib/x86_64-linux-gnu/libEGL_mesa.so.0 "Mesa's EGL of batch mode and headless tests" \
        /usr/share/glvnd/egl_vendor.d/50_mesa.json "EGL vendor entry of Mesa" \
        "$qtplugins/libqxcb.so" "Qt platform of the GL tests" \
        "$qtplugins/libqoffscreen.so" "Qt platform of the unit tests"
}

# The packages that own PATH, or nothing. Tries the path as given and with its
# links resolved, each also without /usr (files of merged-/usr systems are
# registered under either).
owners() {
    local path=$1 candidate resolved
    resolved=$(readlink -f "$path" 2>/dev/null || echo "$path")
    for candidate in "$path" "$resolved" "${path#/usr}" "${resolved#/usr}"; do
        [[ $candidate == /* ]] || continue
        dpkg-query -S "$candidate" 2>/dev/null | grep -v '^diversion ' |
            sed -n 's/: \/.*//p' | tr ',' '\n' | sed -e 's/^ *//' -e 's/:.*//' | sort -u | grep . &&
            return 0
    done
    return 0
}

failures=0
checked=0
declare -A seen=()
while IFS=$'\t' read -r path use; do
    [[ -n ${seen[$path]:-} ]] && continue
    seen[$path]=1
    checked=$((checked + 1))
    if [[ ! -e $path ]]; then
        echo "check-dependencies: $path ($use) does not exist: install it from tools/packages.txt" >&2
        failures=$((failures + 1))
        continue
    fi
    mapfile -t owning < <(owners "$path")
    if ((${#owning[@]} == 0)); then
        echo "check-dependencies: $path ($use) belongs to no Debian package" >&2
        failures=$((failures + 1))
        continue
    fi
    for package in "${owning[@]}"; do
        [[ -n ${provided[$package]:-} ]] && continue 2
    done
    echo "check-dependencies: $path ($use) comes from ${owning[*]}, which tools/packages.txt" \
        "neither lists nor pulls in" >&2
    failures=$((failures + 1))
done < <(uses)

if ((failures)); then
    echo "check-dependencies: $failures of $checked files used by the build and tests are not" \
        "installed by tools/setup.sh" >&2
    exit 1
fi
echo "check-dependencies: all $checked files used by the build and tests come from" \
    "tools/packages.txt and what it pulls in"
