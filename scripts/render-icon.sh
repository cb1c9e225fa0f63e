#!/usr/bin/env bash
# Renders the window icon window/panel/ZelkConfig.ico from its drawing
# window/panel/ZelkConfig.svg, one uncompressed image per size a window system asks of a
# window (title bars, task bars and window switchers: 16 to 64 pixels). The desktop's menus
# and larger views take the SVG itself. An image stored as PNG inside the .ico (as
# ImageMagick stores 256 pixels and more) makes Qt try every image plugin it has, the SVG
# one included, to read it, and decode it, before the window first shows: several
# milliseconds of every start. Run after changing the drawing and commit both files.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh icon

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
sizes=(16 24 32 48 64)
images=()
for size in "${sizes[@]}"; do
    rsvg-convert -w "$size" -h "$size" window/panel/ZelkConfig.svg -o "$work/$size.png"
    images+=("$work/$size.png")
done
convert "${images[@]}" window/panel/ZelkConfig.ico
echo "render-icon: window/panel/ZelkConfig.ico holds ${sizes[*]} pixel images"
