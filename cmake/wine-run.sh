#!/bin/sh
# Runs a Windows program under Wine in the project's own prefix, quietly and
# without the Mono and Gecko installers.
here=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX="${NOWGLOW_WINEPREFIX:-$here/build/wineprefix}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
exec wine "$@"
