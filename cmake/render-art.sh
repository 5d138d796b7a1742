#!/bin/sh
# Renders the hand-written SVG art into the PNGs kept beside it: the four
# images the Discord application provides (assets/<key>.png, 512 x 512) and
# the mock-up of a Discord profile for the README (docs/profile-card.png).
# The mock-up shows the asset images themselves; rsvg-convert reads images
# only from the SVG's own folder, so it is rendered from a staging folder.
# Usage: render-art.sh [output root]   (the source tree by default)
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$here}
mkdir -p "$out/assets" "$out/docs"
work=$(mktemp -d "${TMPDIR:-/tmp}/nowglow-art.XXXXXX")
trap 'rm -rf "$work"' EXIT

# Discord asks for images of at least 512 x 512.
for key in icon play pause stopped; do
    rsvg-convert --width 512 --height 512 -o "$out/assets/$key.png" "$here/assets/$key.svg"
done

cp "$here/assets/icon.svg" "$here/assets/play.svg" "$here/assets/pause.svg" \
    "$here/assets/stopped.svg" "$here/docs/profile-card.svg" "$work/"
rsvg-convert -o "$out/docs/profile-card.png" "$work/profile-card.svg"
