#!/bin/sh
# Packs the Windows test bundle, <output>/XMP-Nowglow-<version>-tests.zip:
# everything needed to run the Windows tests on Windows itself, with no
# toolchain and nothing installed, by run-tests.cmd:
#   XMP-Nowglow.dll, nowglow-appid.exe   the release's own, taken from the
#                                        release zip (the same bytes, the
#                                        same SHA256SUMS lines)
#   *_test.exe                           the 32-bit test programs
#   symbols\XMP-Nowglow.dll              the DLL's unstripped twin, which
#                                        the tests load
#   discord-rpc.dll                      the recording stand-in library
#   nowglow-discord-pipe.exe             the stand-in of Discord's pipe
#   nowglow-backtrace.exe                where a hung test stands
#   run-tests.cmd, README-tests.txt, SHA256SUMS
# It is reproducible as the release zip is (cmake/pack-zip.sh).
# Usage: make-tests-bundle.sh [32-bit build directory] [output directory]
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
. "$here/cmake/pack-zip.sh"
build=${1:-$here/build/win32}
output=${2:-$here/dist}
mkdir -p "$output"
output=$(cd "$output" && pwd)

fail() {
    echo "make-tests-bundle: $*" >&2
    exit 1
}

version=$(head -n 1 "$here/VERSION" | tr -d '[:space:]')
[ -f "$build/symbols/XMP-Nowglow.dll" ] || fail "$build has no test build; run make build first"
tests=$(cd "$build" && ls ./*_test.exe 2>/dev/null | sed 's|^\./||')
[ -n "$tests" ] || fail "$build has no test programs; run make build first"
epoch=$(pack_epoch "$here")

work=$(mktemp -d "${TMPDIR:-/tmp}/nowglow-tests-bundle.XXXXXX")
trap 'rm -rf "$work"' EXIT
"$here/cmake/make-dist.sh" "$build" "$work/release" >/dev/null || fail "the release zip could not be made"
mkdir "$work/unpacked"
unzip -q "$work/release/XMP-Nowglow-$version.zip" -d "$work/unpacked"

stage="$work/stage"
mkdir -p "$stage/symbols"
cp "$work/unpacked/XMP-Nowglow.dll" "$work/unpacked/nowglow-appid.exe" "$stage/"
for file in $tests discord-rpc.dll nowglow-discord-pipe.exe nowglow-backtrace.exe; do
    cp "$build/$file" "$stage/$file"
done
cp "$build/symbols/XMP-Nowglow.dll" "$stage/symbols/XMP-Nowglow.dll"
for text in run-tests.cmd README-tests.txt; do
    sed 's/$/\r/' "$here/tests/windows/$text" >"$stage/$text"
done

zipfile="$output/XMP-Nowglow-$version-tests.zip"
pack_zip "$stage" "$zipfile" "$epoch" || fail "cannot pack $zipfile"
# The two files the release ships, listed as the release lists them.
for file in XMP-Nowglow.dll nowglow-appid.exe; do
    grep -qxF "$(grep " $file\$" "$work/unpacked/SHA256SUMS")" "$stage/SHA256SUMS" ||
        fail "$file is not the release's"
done
echo "make-tests-bundle: $zipfile: $(wc -c <"$zipfile") bytes"
