#!/bin/sh
# Builds the plug-in DLL and nowglow-appid.exe twice from the same tree, in
# two fresh build directories whose paths differ in length, and checks that
# each comes out the same byte for byte: no timestamp, build path or other
# accident of the build may reach what ships. Usage: check-reproducible.sh
# [source tree]
set -eu
src=$(cd "${1:-$(dirname "$0")/..}" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/nowglow-reproducible.XXXXXX")
trap 'rm -rf "$work"' EXIT
trap 'exit 1' INT TERM

build() {
    dir=$1
    mkdir -p "$dir"
    if ! { cmake -S "$src" --preset win32 -B "$dir" &&
           cmake --build "$dir" --target nowglow nowglow-appid -j "${JOBS:-2}"; } >"$dir/build.log" 2>&1; then
        cat "$dir/build.log" >&2
        echo "check-reproducible: the build in $dir failed" >&2
        exit 1
    fi
}

first="$work/a"
second="$work/second-build-in-a-longer-path/b"
build "$first"
build "$second"

status=0
for file in XMP-Nowglow.dll nowglow-appid.exe; do
    if cmp -s "$first/$file" "$second/$file"; then
        echo "check-reproducible: both builds gave the same $(wc -c <"$first/$file") bytes of $file"
    else
        echo "check-reproducible: the two builds of $file differ in $(cmp -l "$first/$file" "$second/$file" | wc -l) bytes" >&2
        status=1
    fi
done
exit $status
