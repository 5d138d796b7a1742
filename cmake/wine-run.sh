#!/bin/sh
# Runs a Windows program under Wine in the project's own prefix, quietly and
# without the Mono and Gecko installers. The prefix is made on first use.
#
# Wine's desktop process, started by the first program that opens a window,
# inherits that program's output and keeps it open after the program ends;
# a caller reading the output through a pipe (CTest) would wait for it. So
# when the output is not a terminal it goes through a file instead.
here=$(cd "$(dirname "$0")/.." && pwd)
. "$here/cmake/wine-env.sh"
if [ ! -f "$WINEPREFIX/.nowglow-ready" ]; then
    "$here/cmake/wine-prefix.sh" || exit 1
fi
if [ -t 1 ]; then
    exec "$NOWGLOW_WINE" "$@"
fi
output=$(mktemp "${TMPDIR:-/tmp}/nowglow-wine.XXXXXX")
"$NOWGLOW_WINE" "$@" >"$output" 2>&1
status=$?
cat "$output"
rm -f "$output"
exit "$status"
