#!/usr/bin/env bash
# Checks the window's icon as an asset: the .ico beside the panel file holds a square image
# of every size a window system asks a window for, from 16 pixels (title bars, task lists)
# to 64, and the panel file names it. Larger sizes come from the SVG the desktop's menus
# take; in the .ico they would be PNG images, whose plugin would load at every start.
# Prints each fault; exit 1 if any.
set -u
cd "$(dirname "$0")/.."
icon=window/panel/ZelkConfig.ico
status=0
read -r reserved type count < <(od -An -tu2 -N6 "$icon")
if [ "$reserved" != 0 ] || [ "$type" != 1 ]; then
    echo "$icon is not an icon file"
    exit 1
fi
sizes=" "
for ((i = 0; i < count; i++)); do
    # Each directory entry starts with the width and the height; 0 stands for 256.
    read -r width height < <(od -An -tu1 -j $((6 + 16 * i)) -N2 "$icon")
    [ "$width" = "$height" ] && sizes+="$((width == 0 ? 256 : width)) "
done
for wanted in 16 24 32 48 64; do
    if [[ "$sizes" != *" $wanted "* ]]; then
        echo "$icon has no $wanted x $wanted image"
        status=1
    fi
done
if ! grep -q '"icon": *"ZelkConfig.ico"' window/panel/ZelkConfig_en.uir; then
    echo "the panel file does not name ZelkConfig.ico"
    status=1
fi
exit $status
