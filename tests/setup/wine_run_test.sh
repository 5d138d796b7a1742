#!/bin/sh
# cmake/wine-run.sh's promises to the Wine tests, with real programs of the
# build: a program's own status comes through; a status 0 without the
# summary a test program writes at its end fails; a program that runs past
# its time, or is stopped with SIGTERM, is ended with a backtrace that names
# its functions and the matching status; and no output file is left behind.
# Usage: wine_run_test.sh <build directory with the Windows programs>
set -u
here=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "$1" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/nowglow-wine-run-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
# shellcheck source=../release/checks.sh
. "$here/tests/release/checks.sh"
pipe="$build/nowglow-discord-pipe.exe"
# The pipe stand-in without a client waits two minutes: a program that
# stands still. Its pipe is named so that no check ever looks for it (those
# look for discord-ipc-0 to 9), whatever runs beside this test.
record="rec-$(basename "$work").txt"
standing="$pipe wine-run-test Z:$(printf '%s' "$work/$record" | tr / '\\') silent"
backtrace_line="nowglow-discord-pipe.exe!wmain"

# Runs the command given (an environment first, as env takes it) within a
# bound, its temporary folder the work folder; sets $status and $out.
run() {
    out=$(timeout 300 env TMPDIR="$work" "$@" 2>&1)
    status=$?
}

# Expects the status, each text given in the output, and no output file
# left; shows the output when any of these fails.
expect() {
    name=$1 want_status=$2
    shift 2
    failed_before=$failures
    check "$name: status $want_status (was $status)" [ "$status" = "$want_status" ]
    for text in "$@"; do
        check "$name: says \"$text\"" sh -c 'printf "%s\n" "$1" | grep -qF -- "$2"' - "$out" "$text"
    done
    check "$name: leaves no output file" sh -c '! ls "$1"/nowglow-wine.* >/dev/null 2>&1' - "$work"
    [ "$failures" = "$failed_before" ] || printf '%s\n' "$out" | sed 's/^/    /'
}

run "$here/cmake/wine-run.sh" "$pipe"
expect "a program's own failure" 2 "usage: nowglow-discord-pipe"

run NOWGLOW_WINE_EXPECT_SUMMARY=1 "$here/cmake/wine-run.sh" "$pipe"
expect "a program's own failure, a summary expected" 2 "usage: nowglow-discord-pipe"

run "$here/cmake/wine-run.sh" "$build/nowglow-appid.exe" --help
expect "status 0, no summary asked for" 0 "nowglow-appid"

run NOWGLOW_WINE_EXPECT_SUMMARY=1 "$here/cmake/wine-run.sh" "$build/nowglow-appid.exe" --help
expect "status 0 without a summary" 1 "never reached its end"

# shellcheck disable=SC2086
run NOWGLOW_WINE_TIMEOUT=5 "$here/cmake/wine-run.sh" $standing
expect "past its time" 124 "ran past its 5 s" "$backtrace_line"

# Whether the stand-in runs its own code: its process is named for the
# program (the runner's are not), its command line holds the record file's
# name, and the thread it starts first thing (its two-minute end) is there
# beside the main thread.
standin_stands() {
    for process in /proc/[0-9]*; do
        [ "$(cat "$process/comm" 2>/dev/null)" = nowglow-discord ] &&
            grep -qaF "$record" "$process/cmdline" 2>/dev/null &&
            [ "$(ls "$process/task" 2>/dev/null | wc -l)" -ge 2 ] && return 0
    done
    return 1
}

# SIGTERM to the runner alone once the stand-in stands, waiting at most
# 60 s for it. The runner's own timeout bounds it (timeout(1) would send
# the signal to the stand-in too).
# shellcheck disable=SC2086
TMPDIR="$work" NOWGLOW_WINE_TIMEOUT=300 "$here/cmake/wine-run.sh" $standing >"$work/term.txt" 2>&1 &
runner=$!
waited=0
until standin_stands || [ "$waited" -ge 600 ]; do
    sleep 0.1
    waited=$((waited + 1))
done
check "the stand-in started within 60 s" [ "$waited" -lt 600 ]
kill -TERM "$runner"
wait "$runner"
status=$?
out=$(cat "$work/term.txt")
expect "SIGTERM" 143 "was stopped (SIGTERM)" "$backtrace_line"

[ "$failures" = 0 ]
