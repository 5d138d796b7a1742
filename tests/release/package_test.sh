#!/bin/sh
# Checks the release package: two runs of make-dist.sh on the same build, at
# different times, in different time zones, under different umasks and temp
# folders, give the same bytes; the zip holds exactly the files users get,
# README.txt has CR LF line ends, the checksums hold, the DLL is the build's
# and the art assets are 512 x 512 PNGs. Also that the Makefile hands the
# Discord application ID to the build and knows every command of the README.
# Usage: package_test.sh <build directory>
set -u
here=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "$1" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/nowglow-package-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
version=$(head -n 1 "$here/VERSION" | tr -d '[:space:]')
zipname="XMP-Nowglow-$version.zip"
# shellcheck source=checks.sh
. "$here/tests/release/checks.sh"

mkdir -p "$work/first" "$work/second" "$work/tmp-with-a-longer-name"
(umask 022 && TZ=UTC "$here/cmake/make-dist.sh" "$build" "$work/first") >"$work/first.log" || exit 1
cat "$work/first.log"
# A later second, another time zone, another umask, another temp folder.
sleep 2
(umask 077 && TZ=America/Los_Angeles TMPDIR="$work/tmp-with-a-longer-name" \
    "$here/cmake/make-dist.sh" "$build" "$work/second") || exit 1
check "two runs give the same bytes" cmp "$work/first/$zipname" "$work/second/$zipname"

mkdir "$work/unpacked"
unzip -q "$work/first/$zipname" -d "$work/unpacked" || exit 1
listing=$(cd "$work/unpacked" && find . -type f | sed 's|^\./||' | LC_ALL=C sort | tr '\n' ' ')
expected="LICENSE README.txt SHA256SUMS XMP-Nowglow.dll discord-assets/icon.png discord-assets/pause.png \
discord-assets/play.png discord-assets/stopped.png nowglow-appid.exe "
check "the zip holds exactly the release files" test "$listing" = "$expected"

crlf_only() {
    # Every line ends in CR LF: no line without its CR, none missing.
    lines=$(wc -l <"$1")
    crlf=$(grep -c "$(printf '\r')\$" "$1")
    [ "$lines" -gt 0 ] && [ "$lines" -eq "$crlf" ]
}
check "README.txt has CR LF line ends" crlf_only "$work/unpacked/README.txt"
check "README.txt names the version" grep -q "Nowglow, version $version" "$work/unpacked/README.txt"
app_id=$(sed -n 's/^NOWGLOW_DISCORD_APP_ID:[A-Z]*=//p' "$build/CMakeCache.txt")
check "README.txt names the build's application ID" grep -q "$app_id" "$work/unpacked/README.txt"
check "the checksums hold" sh -c "cd '$work/unpacked' && sha256sum --quiet -c SHA256SUMS"
check "the DLL is the release build's" cmp "$work/unpacked/XMP-Nowglow.dll" "$build/XMP-Nowglow.dll"
check "nowglow-appid.exe is the release build's" cmp "$work/unpacked/nowglow-appid.exe" "$build/nowglow-appid.exe"

# The placeholder ID is named as such, in README.txt and, when the package
# carries it, in one line of make dist's output.
placeholder_id=$(sed -n 's/^set(NOWGLOW_PLACEHOLDER_APP_ID "\([0-9]*\)".*/\1/p' "$here/CMakeLists.txt")
readme="$work/unpacked/README.txt"
if [ "$app_id" = "$placeholder_id" ]; then
    check "README.txt says plainly that the built-in ID is a placeholder" \
        sh -c "tr -d '\r' <'$readme' | tr '\n' ' ' | grep -q 'the built-in ID, $placeholder_id, is a placeholder: no Discord application has it, so nothing shows until you put your own application.s ID into the DLL'"
fi
check "README.txt names the placeholder ID once" test "$(grep -o "$placeholder_id" "$readme" | wc -l)" -eq 1
check "README.md names the placeholder ID that CMakeLists.txt holds" grep -q "$placeholder_id" "$here/README.md"
check "README.txt tells how to put another ID into the DLL, the double-click first" \
    sh -c "grep -n 'double-click' '$readme' | head -n 1 | cut -d: -f1 >'$work/click' &&
           grep -n 'nowglow-appid.exe XMP-Nowglow.dll 1234567890123456789' '$readme' | cut -d: -f1 >'$work/line' &&
           test -s '$work/click' && test -s '$work/line' && test \$(cat '$work/click') -lt \$(cat '$work/line')"
check "README.txt gives the address of discord-rpc's release page" \
    grep -q "https://github.com/discord/discord-rpc/releases" "$readme"
check "README.txt keeps within 80 columns" sh -c "! tr -d '\r' <'$readme' | grep -q '.\{81\}'"
if [ "$app_id" = "$placeholder_id" ]; then
    check "make dist says in one line that it packs the placeholder" \
        test "$(grep -c "placeholder application $placeholder_id" "$work/first.log")" -eq 1
fi

png_size() {
    # Width and height from the PNG header, big-endian at bytes 16 to 23.
    od -An -tu1 -j16 -N8 "$1" | awk '{ printf "%d %d", $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8 }'
}
for key in icon play pause stopped; do
    check "discord-assets/$key.png is 512 x 512" test "$(png_size "$work/unpacked/discord-assets/$key.png")" = "512 512"
done

# A build with an application ID that does not match its DLL is refused.
mkdir "$work/stale"
cp "$build/XMP-Nowglow.dll" "$work/stale/"
echo "NOWGLOW_DISCORD_APP_ID:STRING=111111111111111111" >"$work/stale/CMakeCache.txt"
check "a DLL built with another application ID is refused" \
    sh -c "! '$here/cmake/make-dist.sh' '$work/stale' '$work/stale-out' 2>/dev/null"

# make dist hands DISCORD_APP_ID to the build, and without it goes back to
# the default rather than keeping the last one given.
check "make dist DISCORD_APP_ID=... builds with that ID" \
    sh -c "env -u MAKEFLAGS -u MFLAGS -u MAKELEVEL make -s -n -C '$here' dist DISCORD_APP_ID=1234567890123456789 | grep -q -- '-DNOWGLOW_DISCORD_APP_ID=1234567890123456789'"
check "make dist without an ID builds with the default" \
    sh -c "env -u MAKEFLAGS -u MFLAGS -u MAKELEVEL make -s -n -C '$here' dist | grep -q -- '-UNOWGLOW_DISCORD_APP_ID'"

# Every make command the README gives is one the Makefile knows.
sed -n 's/^ *make \([a-z-]*\).*/\1/p' "$here/README.md" | sort -u >"$work/targets"
while read -r target; do
    check "the README's \"make $target\" is a target of the Makefile" \
        sh -c "env -u MAKEFLAGS -u MFLAGS -u MAKELEVEL make -s -n -C '$here' '$target' >/dev/null 2>&1"
done <"$work/targets"

[ "$failures" -eq 0 ]
