#!/bin/sh
# From the release zip alone, under Wine: nowglow-appid.exe shows the ID
# the package's DLL carries, refuses a bad ID and a file that is not the
# plug-in's DLL leaving both untouched, and rewrites the DLL into exactly
# the DLL that make dist packs when built with that ID, for an 18-, a 19-
# and a 20-digit ID, and back. With each ID too, two runs of make dist give
# the same zip.
# Usage: appid_identity_test.sh <build directory>
set -u
here=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "$1" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/nowglow-appid-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
version=$(head -n 1 "$here/VERSION" | tr -d '[:space:]')
zipname="XMP-Nowglow-$version.zip"
# An 18-, a 19- and a 20-digit ID: the lengths of 2016 to 2022, of every
# application since, and of the largest.
ids="123456789012345678 1234567890123456789 18446744073709551615"
# shellcheck source=checks.sh
. "$here/tests/release/checks.sh"

# The tool from the unpacked package, run in its folder. On a machine that
# runs no 32-bit program, NOWGLOW_APPID_TOOL names the 64-bit build of the
# same tool, which takes its place in the package.
tool() {
    (cd "$work/package" && "$here/cmake/wine-run.sh" nowglow-appid.exe "$@")
}

"$here/cmake/make-dist.sh" "$build" "$work/default" >/dev/null || exit 1
unzip -q "$work/default/$zipname" -d "$work/package" || exit 1
if [ -n "${NOWGLOW_APPID_TOOL:-}" ]; then
    cp "$NOWGLOW_APPID_TOOL" "$work/package/nowglow-appid.exe"
fi
cp "$work/package/XMP-Nowglow.dll" "$work/before.dll"
cp "$work/package/LICENSE" "$work/before-licence"

default_id=$(sed -n 's/^NOWGLOW_DISCORD_APP_ID:[A-Z]*=//p' "$build/CMakeCache.txt")
check "the tool shows the package's ID" \
    sh -c "(cd '$work/package' && '$here/cmake/wine-run.sh' nowglow-appid.exe XMP-Nowglow.dll) | tr -d '\r' |
           grep -q '^Discord application ID: $default_id'"
check "an ID of 16 digits is refused" sh -c "! (cd '$work/package' && '$here/cmake/wine-run.sh' nowglow-appid.exe XMP-Nowglow.dll 1234567890123456) >/dev/null 2>&1"
check "the refused ID left the DLL untouched" cmp "$work/package/XMP-Nowglow.dll" "$work/before.dll"
check "a file that is not the plug-in's DLL is refused" \
    sh -c "! (cd '$work/package' && '$here/cmake/wine-run.sh' nowglow-appid.exe LICENSE 1234567890123456789) >/dev/null 2>&1"
check "the refused file is untouched" cmp "$work/package/LICENSE" "$work/before-licence"

for new_id in $ids; do
    # The same build with that ID, in a tree of its own.
    other="$work/build-$new_id"
    if ! { cmake -S "$here" --preset win32 -B "$other" -DNOWGLOW_DISCORD_APP_ID="$new_id" &&
           cmake --build "$other" --target nowglow nowglow-appid -j "${JOBS:-2}"; } >"$work/build.log" 2>&1; then
        cat "$work/build.log"
        echo "FAILED: the build with the application ID $new_id"
        failures=$((failures + 1))
        continue
    fi
    "$here/cmake/make-dist.sh" "$other" "$work/custom-$new_id" >/dev/null || exit 1
    "$here/cmake/make-dist.sh" "$other" "$work/again-$new_id" >/dev/null || exit 1
    check "with DISCORD_APP_ID=$new_id, two make dist runs give the same bytes" \
        cmp "$work/custom-$new_id/$zipname" "$work/again-$new_id/$zipname"
    unzip -q "$work/custom-$new_id/$zipname" -d "$work/custom-package-$new_id" || exit 1

    tool XMP-Nowglow.dll "$new_id" >"$work/rewrite.log" 2>&1
    check "the tool rewrites the ID to $new_id" grep -q "changed from $default_id to $new_id" "$work/rewrite.log"
    check "the DLL rewritten to $new_id is byte for byte the one make dist packs with that ID" \
        cmp "$work/package/XMP-Nowglow.dll" "$work/custom-package-$new_id/XMP-Nowglow.dll"
    tool XMP-Nowglow.dll "$default_id" >"$work/rewrite.log" 2>&1
    check "rewritten back from $new_id, the DLL is the package's own again" \
        cmp "$work/package/XMP-Nowglow.dll" "$work/before.dll"
    rm -rf "$other"
done
check "the package folder holds no file left by the rewrites" \
    test "$(ls "$work/package" | tr '\n' ' ')" = "LICENSE README.txt SHA256SUMS XMP-Nowglow.dll discord-assets nowglow-appid.exe "

[ "$failures" -eq 0 ]
