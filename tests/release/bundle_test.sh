#!/bin/sh
# The Windows test bundle as a Windows machine would get it: made from this
# build, unzipped, and run by its own run-tests.cmd under Wine's cmd. Its
# DLL and tool are byte for byte the release zip's, its checksums hold, the
# run ends "N passed, 0 failed, K skipped" with exit status 0, and every
# check that only Windows can make is named as skipped. NOWGLOW_DISCORD_RPC_DLL,
# when set, is handed to run-tests.cmd as Discord's own library.
# Usage: bundle_test.sh <32-bit build directory>
set -u
here=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "$1" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/nowglow-bundle-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
version=$(head -n 1 "$here/VERSION" | tr -d '[:space:]')
# shellcheck source=checks.sh
. "$here/tests/release/checks.sh"

"$here/cmake/make-dist.sh" "$build" "$work/release" >/dev/null || exit 1
"$here/cmake/make-tests-bundle.sh" "$build" "$work/bundle-zip" >/dev/null || exit 1
unzip -q "$work/release/XMP-Nowglow-$version.zip" -d "$work/release/unpacked" || exit 1
unzip -q "$work/bundle-zip/XMP-Nowglow-$version-tests.zip" -d "$work/bundle" || exit 1

for file in XMP-Nowglow.dll nowglow-appid.exe; do
    check "the bundle's $file is the release's, byte for byte" \
        cmp "$work/bundle/$file" "$work/release/unpacked/$file"
    check "the bundle's SHA256SUMS lists $file as the release's does" \
        grep -qxF "$(grep " $file\$" "$work/release/unpacked/SHA256SUMS")" "$work/bundle/SHA256SUMS"
done
check "the bundle's checksums hold" sh -c "cd '$work/bundle' && sha256sum --quiet -c SHA256SUMS"
check "run-tests.cmd has CR LF line ends" sh -c "! tr -d '\r' <'$work/bundle/run-tests.cmd' | cmp -s - '$work/bundle/run-tests.cmd'"

own_library=""
if [ -n "${NOWGLOW_DISCORD_RPC_DLL:-}" ]; then
    cp "$NOWGLOW_DISCORD_RPC_DLL" "$work/own-discord-rpc.dll"
    own_library='Z:'$(echo "$work/own-discord-rpc.dll" | tr '/' '\\')
fi
(
    cd "$work/bundle" || exit 1
    env -u NOWGLOW_DISCORD_RPC_DLL "$here/cmake/wine-run.sh" cmd /c run-tests.cmd $own_library
) >"$work/run.log" 2>&1
status=$?
cat "$work/run.log"
last=$(tr -d '\r' <"$work/run.log" | grep -v '^$' | tail -n 1)
check "run-tests.cmd ended with exit status 0" test "$status" -eq 0
check "its last line is 'N passed, 0 failed, K skipped' ($last)" \
    sh -c "echo '$last' | grep -Eqx '[1-9][0-9]* passed, 0 failed, [0-9]+ skipped'"
for skipped in AFolderThisAccountMayNotChangeGetsItsAdviceAndNothingInTheVirtualStore \
    AReadOnlyDllIsKeptByWindowsItselfAndRefusedWithItsAdvice \
    TheCheckSaysWhenDiscordsPipeMayNotBeOpenedByThisAccount \
    OnARealConsoleEveryScriptShowsAndOnlyAConsoleOfItsOwnWaitsForEnter \
    OnARealConsoleALongLineIsRefusedWholeAndTheNextLineIsTheNextEntry; do
    check "Windows only, named as skipped under Wine: $skipped" grep -q "skipped: WindowsOnlyTest.$skipped" "$work/run.log"
done
check "every test program left its log and its summary" sh -c \
    "for program in '$work/bundle'/*_test.exe; do name=\$(basename \"\$program\" .exe);
        test -s '$work/bundle/logs/'\$name.log && test -s '$work/bundle/logs/'\$name.summary || exit 1; done"

[ "$failures" -eq 0 ]
