#!/bin/sh
# cmake/install-deps.sh and its pin of the security archive, against a
# stubbed apt: the pin is written only when the security archive's own
# index is missing, stands while apt installs, and is gone afterwards on
# every way out: a normal end, and the run stopped during the install by
# SIGINT, SIGTERM or SIGHUP. One left behind by a run killed outright is
# removed by the next run.
set -u
here=$(cd "$(dirname "$0")/../.." && pwd)
. "$here/tests/release/checks.sh"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin"
pin="$work/pin"
seen="$work/seen"

# Every package missing, root, i386 already there, no waits between tries.
printf '#!/bin/sh\nexit 1\n' >"$work/bin/dpkg-query"
printf '#!/bin/sh\n[ "$1" = --print-foreign-architectures ] && echo i386\nexit 0\n' >"$work/bin/dpkg"
printf '#!/bin/sh\necho 0\n' >"$work/bin/id"
printf '#!/bin/sh\nexit 0\n' >"$work/bin/sleep"
# apt-get: update fails for the archive FAKE_MISSING names (none, security,
# main); install notes whether the pin stands, then takes FAKE_INSTALL_SECONDS.
cat >"$work/bin/apt-get" <<'STUB'
#!/bin/sh
case "$1" in
update)
    case "${FAKE_MISSING:-none}" in
    security) echo "E: Failed to fetch http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (1234 != 5678)"; exit 100 ;;
    main) echo "E: Failed to fetch http://deb.debian.org/debian/dists/bookworm/main/binary-i386/Packages.xz  Hash Sum mismatch"; exit 100 ;;
    esac
    exit 0 ;;
install)
    if [ -f "$NOWGLOW_APT_PIN" ]; then echo pinned >"$FAKE_SEEN"; else echo unpinned >"$FAKE_SEEN"; fi
    /bin/sleep "${FAKE_INSTALL_SECONDS:-0}"
    exit 0 ;;
esac
STUB
chmod +x "$work/bin/"*

# Runs install-deps.sh with the stubs; the rest of the arguments are
# FAKE_ settings.
run() {
    rm -f "$seen"
    env "$@" NOWGLOW_APT_PIN="$pin" FAKE_SEEN="$seen" PATH="$work/bin:$PATH" sh "$here/cmake/install-deps.sh" \
        >"$work/out" 2>&1
}

seen_is() { [ "$(cat "$seen" 2>/dev/null)" = "$1" ]; }
no_pin() { [ ! -e "$pin" ]; }

run FAKE_MISSING=security
check "the security archive's index missing: the install runs pinned" seen_is pinned
check "... and the pin is gone at the end" no_pin
run FAKE_MISSING=main
check "another archive's index missing: no pin" seen_is unpinned
run FAKE_MISSING=none
check "every index there: no pin" seen_is unpinned

# Stopped during the install, as Ctrl-C or a job's end stops it: the signal
# goes to the whole process group. A job started in the background ignores
# SIGINT from the start, as a terminal's foreground job does not, so perl
# (Debian's perl-base, always there) gives it back its default first.
for signal in INT TERM HUP; do
    setsid perl -e '$SIG{INT} = "DEFAULT"; exec @ARGV or die' env FAKE_MISSING=security FAKE_INSTALL_SECONDS=30 NOWGLOW_APT_PIN="$pin" FAKE_SEEN="$seen" \
        PATH="$work/bin:$PATH" sh "$here/cmake/install-deps.sh" >"$work/out" 2>&1 &
    started=$!
    waited=0
    while ! seen_is pinned && [ "$waited" -lt 100 ]; do
        /bin/sleep 0.1
        waited=$((waited + 1))
    done
    check "SIG$signal: the install was under way, pinned (waited $((waited * 100)) ms for it)" seen_is pinned
    /bin/kill -s "$signal" -- "-$started"
    wait "$started" 2>/dev/null
    check "SIG$signal during the install leaves no pin" no_pin
    rm -f "$seen"
done

# A pin left by a run killed outright goes at the next run.
printf 'Package: *\nPin: release l=Debian-Security\nPin-Priority: 100\n' >"$pin"
run FAKE_MISSING=none
check "a pin left by a killed run is gone before the next install" seen_is unpinned
check "... and after it" no_pin

[ "$failures" -eq 0 ]
