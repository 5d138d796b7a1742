#!/bin/sh
# Packs the release: <output>/XMP-Nowglow-<version>.zip with the release
# build's stripped DLL and nowglow-appid.exe, README.txt (CR LF line ends,
# for Notepad), LICENSE, the four Discord art assets and SHA256SUMS. The
# version comes from the file VERSION, the application ID from the build's
# cache; a package built for the placeholder application says so.
#
# The zip is reproducible (cmake/pack-zip.sh): the same tree and build give
# the same bytes, every file with the time of the last commit (or
# SOURCE_DATE_EPOCH when set).
# Usage: make-dist.sh [build directory] [output directory]
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
. "$here/cmake/pack-zip.sh"
build=${1:-$here/build/win32}
output=${2:-$here/dist}
mkdir -p "$output"
output=$(cd "$output" && pwd)

fail() {
    echo "make-dist: $*" >&2
    exit 1
}

version=$(head -n 1 "$here/VERSION" | tr -d '[:space:]')
[ -n "$version" ] || fail "VERSION is empty"
dll="$build/XMP-Nowglow.dll"
tool="$build/nowglow-appid.exe"
[ -f "$dll" ] || fail "$dll is missing; run make build first"
[ -f "$tool" ] || fail "$tool is missing; run make build first"
app_id=$(sed -n 's/^NOWGLOW_DISCORD_APP_ID:[A-Z]*=//p' "$build/CMakeCache.txt" 2>/dev/null || true)
[ -n "$app_id" ] || fail "no Discord application ID in $build/CMakeCache.txt"
# The DLL must be the one built with that ID, not a leftover of another.
grep -q -a "$app_id" "$dll" || fail "$dll was not built with the application ID $app_id; run make build"
# The release build is linked with -s: no symbol table may remain.
for binary in "$dll" "$tool"; do
    if i686-w64-mingw32-nm "$binary" 2>&1 | grep -q -v "no symbols"; then
        fail "$binary is not stripped"
    fi
done
# The repository's default ID names no registered application yet.
placeholder_id=$(sed -n 's/^set(NOWGLOW_PLACEHOLDER_APP_ID "\([0-9]*\)".*/\1/p' "$here/CMakeLists.txt")
[ -n "$placeholder_id" ] || fail "no default application ID in CMakeLists.txt"
if [ "$app_id" = "$placeholder_id" ]; then
    echo "make-dist: note: built for the placeholder application $app_id; Discord shows nothing until the DLL carries the ID of a registered application (nowglow-appid.exe, or make dist DISCORD_APP_ID=...)"
fi

epoch=$(pack_epoch "$here")

work=$(mktemp -d "${TMPDIR:-/tmp}/nowglow-dist.XXXXXX")
trap 'rm -rf "$work"' EXIT
stage="$work/stage"
mkdir -p "$stage/discord-assets"

cp "$dll" "$stage/XMP-Nowglow.dll"
cp "$tool" "$stage/nowglow-appid.exe"
cp "$here/LICENSE" "$stage/LICENSE"
for key in icon play pause stopped; do
    cp "$here/assets/$key.png" "$stage/discord-assets/$key.png"
done
# README.txt says the placeholder once: its lines for a package with the
# placeholder, or those for one with an ID of its own.
if [ "$app_id" = "$placeholder_id" ]; then
    kept=IF_PLACEHOLDER dropped=IF_OWN_ID
else
    kept=IF_OWN_ID dropped=IF_PLACEHOLDER
fi
sed -e "/^@$dropped@/d" -e "s/^@$kept@//" -e "s/@VERSION@/$version/g" -e "s/@DISCORD_APP_ID@/$app_id/g" \
    -e "s/@PLACEHOLDER_APP_ID@/$placeholder_id/g" "$here/docs/README.txt.in" |
    sed 's/$/\r/' >"$stage/README.txt"
if grep -q "@[A-Z_]*@" "$stage/README.txt"; then
    fail "README.txt has a placeholder left: $(grep -o "@[A-Z_]*@" "$stage/README.txt" | head -n 1)"
fi

zipfile="$output/XMP-Nowglow-$version.zip"
pack_zip "$stage" "$zipfile" "$epoch" || fail "cannot pack $zipfile"
echo "make-dist: $zipfile: $(wc -c <"$zipfile") bytes, sha256 $(sha256sum "$zipfile" | cut -d ' ' -f 1)"
