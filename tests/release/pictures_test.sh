#!/bin/sh
# Checks that the committed pictures are what their sources make: the four
# art assets and the profile mock-up, rendered again from their SVG, and the
# screenshot of the settings dialog, taken again from the build under Xvfb
# and Wine, are the same bytes as the files in assets/ and docs/. When one
# differs, "make assets" or "make screenshots" brings it up to date.
# Usage: pictures_test.sh <build directory>
set -u
here=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "$1" && pwd)
for tool in rsvg-convert xvfb-run import convert compare identify; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "skipped: $tool is not installed (make deps installs it)"
        exit 77
    fi
done
work=$(mktemp -d "${TMPDIR:-/tmp}/nowglow-pictures-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0

same() {
    if cmp -s "$1" "$2"; then
        echo "ok: $3 is up to date"
    else
        echo "FAILED: $3 differs from what its source makes; run $4"
        failures=$((failures + 1))
    fi
}

# Pictures with text are drawn with the machine's font renderer, whose
# anti-aliasing may differ by a shade between machines: those must be the
# same picture, within a root-mean-square difference of 1% of full scale,
# and the same size. Without text, the bytes must match.
alike() {
    if [ "$(identify -format '%wx%h' "$1")" != "$(identify -format '%wx%h' "$2")" ]; then
        echo "FAILED: $3 has another size than what its source makes; run $4"
        failures=$((failures + 1))
        return
    fi
    rmse=$(compare -metric RMSE "$1" "$2" null: 2>&1 | sed -n 's/.*(\([0-9.e+-]*\)).*/\1/p')
    if awk -v d="${rmse:-1}" 'BEGIN { exit !(d <= 0.01) }'; then
        echo "ok: $3 is up to date (difference $rmse)"
    else
        echo "FAILED: $3 differs from what its source makes (difference ${rmse:-unknown}); run $4"
        failures=$((failures + 1))
    fi
}

"$here/cmake/render-art.sh" "$work" || exit 1
for key in icon play pause stopped; do
    same "$work/assets/$key.png" "$here/assets/$key.png" "assets/$key.png" "make assets"
done
alike "$work/docs/profile-card.png" "$here/docs/profile-card.png" "docs/profile-card.png" "make assets"

"$here/cmake/take-screenshot.sh" "$build" "$work/settings-dialog.png" || exit 1
alike "$work/settings-dialog.png" "$here/docs/settings-dialog.png" "docs/settings-dialog.png" "make screenshots"

[ "$failures" -eq 0 ]
