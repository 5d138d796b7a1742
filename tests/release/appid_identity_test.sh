#!/bin/sh
# From the release zip alone, under Wine: nowglow-appid.exe shows the ID
# the package's DLL carries, refuses a bad ID and a file that is not the
# plug-in's DLL leaving both untouched, and rewrites the DLL into exactly
# the DLL that make dist packs when built with that ID. With that ID too,
# two runs of make dist give the same zip.
# Usage: appid_identity_test.sh <build directory>
set -u
here=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "$1" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/nowglow-appid-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
version=$(head -n 1 "$here/VERSION" | tr -d '[:space:]')
zipname="XMP-Nowglow-$version.zip"
new_id=123456789012345678
# shellcheck source=checks.sh
. "$here/tests/release/checks.sh"

# The tool from the unpacked package, run in its folder.
tool() {
    (cd "$work/package" && "$here/cmake/wine-run.sh" nowglow-appid.exe "$@")
}

# The same build with another application ID, in a tree of its own.
other="$work/other-build"
if ! { cmake -S "$here" --preset win32 -B "$other" -DNOWGLOW_DISCORD_APP_ID=$new_id &&
       cmake --build "$other" --target nowglow nowglow-appid -j "${JOBS:-2}"; } >"$work/build.log" 2>&1; then
    cat "$work/build.log"
    echo "FAILED: the build with the application ID $new_id"
    exit 1
fi
"$here/cmake/make-dist.sh" "$build" "$work/default" >/dev/null || exit 1
"$here/cmake/make-dist.sh" "$other" "$work/custom" >/dev/null || exit 1
"$here/cmake/make-dist.sh" "$other" "$work/custom-again" >/dev/null || exit 1
check "with DISCORD_APP_ID, two make dist runs give the same bytes" \
    cmp "$work/custom/$zipname" "$work/custom-again/$zipname"
unzip -q "$work/default/$zipname" -d "$work/package" || exit 1
unzip -q "$work/custom/$zipname" -d "$work/custom-package" || exit 1
cp "$work/package/XMP-Nowglow.dll" "$work/before.dll"
cp "$work/package/LICENSE" "$work/before-licence"

default_id=$(sed -n 's/^NOWGLOW_DISCORD_APP_ID:[A-Z]*=//p' "$build/CMakeCache.txt")
check "the tool shows the package's ID" \
    sh -c "(cd '$work/package' && '$here/cmake/wine-run.sh' nowglow-appid.exe XMP-Nowglow.dll) | tr -d '\r' |
           grep -qx 'Discord application ID: $default_id'"
check "an ID of 17 digits is refused" sh -c "! (cd '$work/package' && '$here/cmake/wine-run.sh' nowglow-appid.exe XMP-Nowglow.dll 12345678901234567) >/dev/null 2>&1"
check "the refused ID left the DLL untouched" cmp "$work/package/XMP-Nowglow.dll" "$work/before.dll"
check "a file that is not the plug-in's DLL is refused" \
    sh -c "! (cd '$work/package' && '$here/cmake/wine-run.sh' nowglow-appid.exe LICENSE $new_id) >/dev/null 2>&1"
check "the refused file is untouched" cmp "$work/package/LICENSE" "$work/before-licence"

tool XMP-Nowglow.dll $new_id >"$work/rewrite.log" 2>&1
check "the tool rewrites the ID" grep -q "changed from $default_id to $new_id" "$work/rewrite.log"
check "the rewritten DLL is byte for byte the one make dist packs with that ID" \
    cmp "$work/package/XMP-Nowglow.dll" "$work/custom-package/XMP-Nowglow.dll"
check "the package folder holds no file left by the rewrite" \
    test "$(ls "$work/package" | tr '\n' ' ')" = "LICENSE README.txt SHA256SUMS XMP-Nowglow.dll discord-assets nowglow-appid.exe "

[ "$failures" -eq 0 ]
