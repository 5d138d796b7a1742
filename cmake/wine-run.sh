#!/bin/sh
# Runs a Windows program under Wine in the project's own prefix, quietly and
# without the Mono and Gecko installers. The prefix is made on first use.
#
# Wine's desktop process, started by the first program that opens a window,
# inherits that program's output and keeps it open after the program ends;
# a caller reading the output through a pipe (CTest) would wait for it. So
# when the output is not a terminal the program writes to a file of its own,
# and the file is passed on as it grows, so that a program that hangs shows
# all it wrote.
#
# Stopping such a program: after NOWGLOW_WINE_TIMEOUT seconds (when set),
# or on SIGTERM, SIGINT or SIGHUP, the script first shows where each thread
# of the program stands (nowglow-backtrace.exe, beside the program), then
# ends it, removes its file and exits 124 (the timeout) or 128 and the
# signal's number. CTest's own timeout kills with SIGKILL, which no script
# can catch: the Wine tests' NOWGLOW_WINE_TIMEOUT lies below it, so that all
# this happens inside the test's log.
#
# A test program that ends with status 0 has passed only if it got to its
# end: a Wine program whose server goes away ends at once, quietly, with
# status 0. With NOWGLOW_WINE_EXPECT_SUMMARY set, the script hands the
# program a summary file to write as it ends (NOWGLOW_SUMMARY_FILE) and
# turns a status 0 without it into a failure, status 1.
#
# A program whose main thread has ended while its other threads stay (the
# Unix process's leader a zombie) is one Wine failed to tear down: it would
# stand still until the timeout. After NOWGLOW_WINE_TEARDOWN_SECONDS (30)
# in that state the script stops it the same way and exits 125.
here=$(cd "$(dirname "$0")/.." && pwd)
. "$here/cmake/wine-env.sh"
if [ ! -f "$WINEPREFIX/.nowglow-ready" ]; then
    "$here/cmake/wine-prefix.sh" || exit 1
fi
if [ -t 1 ]; then
    exec "$NOWGLOW_WINE" "$@"
fi

program_name=$(basename "$1")
backtrace="$(dirname "$1")/nowglow-backtrace.exe"
output=$(mktemp "${TMPDIR:-/tmp}/nowglow-wine.XXXXXX")
watchdog=""
teardown_watch=""
summary=""
if [ -n "${NOWGLOW_WINE_EXPECT_SUMMARY:-}" ]; then
    # Drive Z: is the Unix root in every Wine prefix.
    summary="$output.summary"
    NOWGLOW_SUMMARY_FILE="Z:$(printf '%s' "$summary" | tr / '\\')"
    export NOWGLOW_SUMMARY_FILE
fi

"$NOWGLOW_WINE" "$@" >"$output" 2>&1 &
program=$!
tail -n +1 -s 0.2 -f --pid="$program" "$output" &
streamer=$!

# Ends the run: the watchdog, the rest of the output, the file.
finish() {
    [ -n "$watchdog" ] && kill "$watchdog" 2>/dev/null
    [ -n "$teardown_watch" ] && kill "$teardown_watch" 2>/dev/null
    wait "$streamer" 2>/dev/null
    rm -f "$output"
    [ -n "$summary" ] && rm -f "$summary"
    exit "$1"
}

# Shows where the program stands, ends it, and ends the run with status $2.
stop() {
    trap '' USR1 USR2 TERM INT HUP
    echo "wine-run: $program_name $1; where each of its threads stands:" >>"$output"
    if [ -f "$backtrace" ]; then
        timeout 120 "$NOWGLOW_WINE" "$backtrace" "$program_name" >>"$output" 2>&1
    else
        echo "wine-run: no backtrace: $backtrace is not there" >>"$output"
    fi
    # The Unix side of the same process, for a hang inside Wine itself: each
    # thread's state and kernel wait, and its stacks where gdb is installed.
    echo "wine-run: the Unix process $program and its threads:" >>"$output"
    ps -L -o pid,lwp,stat,wchan:32,etime,comm -p "$program" >>"$output" 2>&1
    if command -v gdb >/dev/null 2>&1; then
        timeout 120 gdb -p "$program" -batch -ex "thread apply all bt 12" </dev/null >>"$output" 2>&1
    fi
    kill -KILL "$program" 2>/dev/null
    wait "$program" 2>/dev/null
    finish "$2"
}

trap 'stop "ran past its ${NOWGLOW_WINE_TIMEOUT} s" 124' USR1
trap 'stop "ended its main thread, but Wine left its other threads standing for ${teardown_seconds} s" 125' USR2
trap 'stop "was stopped (SIGTERM)" 143' TERM
trap 'stop "was stopped (SIGINT)" 130' INT
trap 'stop "was stopped (SIGHUP)" 129' HUP
if [ -n "${NOWGLOW_WINE_TIMEOUT:-}" ]; then
    # Its output goes nowhere: a sleep left over must not hold CTest's pipe.
    (sleep "$NOWGLOW_WINE_TIMEOUT" && kill -USR1 $$) >/dev/null 2>&1 &
    watchdog=$!
fi

# The leader's state is the third field of its stat line; the name before
# it is in parentheses and may hold spaces.
teardown_seconds=${NOWGLOW_WINE_TEARDOWN_SECONDS:-30}
(
    zombie_for=0
    while sleep 1; do
        state=$(sed 's/.*) //' "/proc/$program/stat" 2>/dev/null | cut -d' ' -f1)
        if [ "$state" = Z ] && [ -d "/proc/$program/task" ] &&
            [ "$(ls "/proc/$program/task" 2>/dev/null | wc -l)" -gt 1 ]; then
            zombie_for=$((zombie_for + 1))
        else
            zombie_for=0
        fi
        if [ "$zombie_for" -ge "$teardown_seconds" ]; then
            kill -USR2 $$
            break
        fi
    done
) >/dev/null 2>&1 &
teardown_watch=$!

# A trapped signal ends the wait early, and its trap ends the run.
wait "$program"
status=$?
if [ "$status" = 0 ] && [ -n "$summary" ] && [ ! -s "$summary" ]; then
    wait "$streamer" 2>/dev/null
    echo "wine-run: $program_name ended with status 0 but never reached its end (it wrote no summary):" \
        "Wine's server may have gone away under it"
    status=1
fi
finish "$status"
