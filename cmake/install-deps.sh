#!/bin/sh
# Installs what the build and the tests need on Debian 12, and nothing when
# everything is already there. Not root or not Debian: says what to install.
set -eu

packages="make cmake g++ g++-mingw-w64-i686 binutils-mingw-w64-i686 g++-mingw-w64-x86-64
binutils-mingw-w64-x86-64 wine wine32:i386 wine64
googletest libgtest-dev libbenchmark-dev clang libclang-rt-14-dev
clang-format clang-tidy cppcheck zip unzip librsvg2-bin librsvg2-common xvfb xauth imagemagick
fonts-wine fonts-dejavu-core python3-yaml"

# The pin below holds back the security archive while it stands; one left
# by a run killed outright (SIGKILL) goes at the next run, whatever it does.
pin=${NOWGLOW_APT_PIN:-/etc/apt/preferences.d/nowglow-install-deps}
if [ -f "$pin" ] && [ -w "$(dirname "$pin")" ]; then
    rm -f "$pin"
fi

missing=""
for p in $packages; do
    status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    case "$status" in
        *"install ok installed"*) ;;
        *) missing="$missing $p" ;;
    esac
done

[ -z "$missing" ] && exit 0

if [ ! -f /etc/debian_version ] || ! command -v apt-get >/dev/null 2>&1; then
    echo "install-deps: this is not a Debian machine; install the equivalents of:$missing" >&2
    exit 1
fi
if [ "$(id -u)" != 0 ]; then
    echo "install-deps: missing packages:$missing" >&2
    echo "install-deps: as root run: dpkg --add-architecture i386 && apt-get update && apt-get install -y --no-install-recommends$missing" >&2
    exit 1
fi

# When the security archive's own index cannot be had (its i386 side caught
# mid-sync, say), its packages of one architecture cannot match those of the
# other, and the i386 Wine cannot be installed. The release's own versions
# always match: for this install only, a pin prefers them. The pin goes on
# every way out, signals included (see the top for one left by a run killed
# outright).
log=""
cleanup() { rm -f "$pin" ${log:+"$log"}; }
trap cleanup EXIT
for signal in INT TERM HUP; do
    # shellcheck disable=SC2064
    trap "cleanup; trap - $signal; kill -$signal \$\$" "$signal"
done

echo "install-deps: installing$missing"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive

# A mirror caught mid-sync serves an index that does not match its Release
# file; a later try usually gets a whole one.
updated=no
log=$(mktemp)
for wait in 0 10 30; do
    sleep "$wait"
    if apt-get update -qq >"$log" 2>&1; then
        updated=yes
        break
    fi
done
cat "$log"
if [ "$updated" = no ] && grep -Eq 'Failed to fetch [^ ]*(debian-security|-security/)' "$log"; then
    echo "install-deps: the security archive's index is missing; installing the release's own versions"
    printf 'Package: *\nPin: release l=Debian-Security\nPin-Priority: 100\n' >"$pin"
fi
# shellcheck disable=SC2086
status=0
apt-get install -y -qq --no-install-recommends $missing >/dev/null || status=$?
exit "$status"
