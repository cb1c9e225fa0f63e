#!/usr/bin/env bash
# Renders the window icon window/panel/ZelkConfig.ico from its drawing
# window/panel/ZelkConfig.svg, one image
# per size a window system asks for. Qt reads .ico files without extra plugins, which it
# does not for SVG; the desktop's menus take the SVG itself. Run after changing the
# drawing and commit both files.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh icon

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
sizes=(16 24 32 48 64 256)
images=()
for size in "${sizes[@]}"; do
    rsvg-convert -w "$size" -h "$size" window/panel/ZelkConfig.svg -o "$work/$size.png"
    images+=("$work/$size.png")
done
convert "${images[@]}" window/panel/ZelkConfig.ico
echo "render-icon: window/panel/ZelkConfig.ico holds ${sizes[*]} pixel images"
