#!/bin/sh
# Builds the plug-in DLL twice from the same tree, in two fresh build
# directories whose paths differ in length, and checks that the two files
# are the same byte for byte: no timestamp, build path or other accident of
# the build may reach the DLL. Usage: check-reproducible.sh [source tree]
set -eu
src=$(cd "${1:-$(dirname "$0")/..}" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/nowglow-reproducible.XXXXXX")
trap 'rm -rf "$work"' EXIT
trap 'exit 1' INT TERM

build() {
    dir=$1
    mkdir -p "$dir"
    if ! { cmake -S "$src" --preset win32 -B "$dir" &&
           cmake --build "$dir" --target nowglow -j "${JOBS:-2}"; } >"$dir/build.log" 2>&1; then
        cat "$dir/build.log" >&2
        echo "check-reproducible: the build in $dir failed" >&2
        exit 1
    fi
}

first="$work/a"
second="$work/second-build-in-a-longer-path/b"
build "$first"
build "$second"

if cmp -s "$first/XMP-Nowglow.dll" "$second/XMP-Nowglow.dll"; then
    echo "check-reproducible: both builds gave the same $(wc -c <"$first/XMP-Nowglow.dll") bytes"
else
    echo "check-reproducible: the two builds differ in $(cmp -l "$first/XMP-Nowglow.dll" "$second/XMP-Nowglow.dll" | wc -l) bytes" >&2
    exit 1
fi
