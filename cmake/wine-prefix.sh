#!/bin/sh
# Creates the build's own Wine prefix once, with Wine's null graphics driver
# so that windows and dialogs work without a display, then starts a
# persistent wineserver so that each test does not wait for Wine's services.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX="${NOWGLOW_WINEPREFIX:-$here/build/wineprefix}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/.nowglow-ready" ]; then
    mkdir -p "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1
    wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
    wineserver -w
    touch "$WINEPREFIX/.nowglow-ready"
fi
wineserver -p 2>/dev/null || true  # already running: fine
wine cmd /c exit >/dev/null 2>&1
