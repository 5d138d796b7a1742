#!/bin/sh
# Creates the build's own Wine prefix once, with Wine's null graphics driver
# so that windows and dialogs work without a display, then starts a
# persistent wineserver so that each test does not wait for Wine's services.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
. "$here/cmake/wine-env.sh"
if [ ! -f "$WINEPREFIX/.nowglow-ready" ]; then
    mkdir -p "$WINEPREFIX"
    "$NOWGLOW_WINE" wineboot -i >/dev/null 2>&1
    "$NOWGLOW_WINE" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
    "$NOWGLOW_WINESERVER" -w
    touch "$WINEPREFIX/.nowglow-ready"
fi
"$NOWGLOW_WINESERVER" -p 2>/dev/null || true  # already running: fine
"$NOWGLOW_WINE" cmd /c exit >/dev/null 2>&1
