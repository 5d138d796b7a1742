#!/bin/sh
# Takes the documentation's screenshot of the settings dialog: under Xvfb and
# Wine's X11 driver, the stand-in player opens the plug-in's dialog, ImageMagick
# captures the screen, and the picture is cropped to the dialog's window.
# It runs in a Wine prefix of its own, build/wineprefix-x11, apart from the
# tests' prefix with its null graphics driver.
# Usage: take-screenshot.sh [build directory] [output PNG]
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX="${NOWGLOW_SCREENSHOT_WINEPREFIX:-$here/build/wineprefix-x11}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

# Inside the virtual display: open the dialog, wait for its rectangle,
# capture the screen, then let the program close the dialog and end.
if [ "${1:-}" = "--session" ]; then
    build=$2
    work=$3
    (while [ ! -f "$work/done" ]; do sleep 0.2; done) |
        wine "$build/nowglow-dialog-shot.exe" "$build/XMP-Nowglow.dll" >"$work/rect" 2>"$work/errors" &
    shot=$!
    waited=0
    while [ ! -s "$work/rect" ]; do
        if ! kill -0 "$shot" 2>/dev/null || [ "$waited" -ge 600 ]; then
            touch "$work/done"
            cat "$work/errors" >&2
            echo "take-screenshot: the settings dialog did not open" >&2
            exit 1
        fi
        sleep 0.1
        waited=$((waited + 1))
    done
    # The dialog is painted once two captures half a second apart agree.
    tries=0
    import -window root "$work/screen.ppm"
    while :; do
        sleep 0.5
        import -window root "$work/again.ppm"
        if cmp -s "$work/screen.ppm" "$work/again.ppm"; then break; fi
        mv "$work/again.ppm" "$work/screen.ppm"
        tries=$((tries + 1))
        if [ "$tries" -ge 40 ]; then
            touch "$work/done"
            echo "take-screenshot: the screen did not settle" >&2
            exit 1
        fi
    done
    touch "$work/done"
    wait "$shot"
    wineserver -w
    exit 0
fi

build=$(cd "${1:-$here/build/win32}" && pwd)
output=${2:-$here/docs/settings-dialog.png}
for file in XMP-Nowglow.dll discord-rpc.dll nowglow-dialog-shot.exe; do
    if [ ! -f "$build/$file" ]; then
        echo "take-screenshot: $build/$file is missing; run make build first" >&2
        exit 1
    fi
done

# The prefix: a Wine desktop of its own, which draws the windows' frames
# where there is no window manager, and Wine's own dialog fonts (Tahoma for
# "MS Shell Dlg", Marlett for the caption buttons), which this Wine looks for
# only in the prefix's Fonts folder.
if [ ! -f "$WINEPREFIX/.nowglow-ready" ]; then
    mkdir -p "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1
    wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
    wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 800x600 /f >/dev/null 2>&1
    wineserver -w
    for font in tahoma.ttf tahomabd.ttf marlett.ttf; do
        cp /usr/share/wine/fonts/$font "$WINEPREFIX/drive_c/windows/Fonts/"
    done
    touch "$WINEPREFIX/.nowglow-ready"
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/nowglow-screenshot.XXXXXX")
trap 'rm -rf "$work"' EXIT
xvfb-run -a -s "-screen 0 800x600x24" "$here/cmake/take-screenshot.sh" --session "$build" "$work"

# "left top width height" of the dialog's window, in screen pixels; the
# words are split on purpose.
# shellcheck disable=SC2046
set -- $(tr -d '\r' <"$work/rect")
if [ $# -ne 4 ]; then
    echo "take-screenshot: no rectangle for the dialog: $(cat "$work/rect")" >&2
    exit 1
fi
# No time stamps or other metadata, so that the same screen gives the same file.
convert "$work/screen.ppm" -crop "$3x$4+$1+$2" +repage -strip \
    -define png:exclude-chunks=date,time "$output"
echo "take-screenshot: wrote $output ($3 x $4)"
