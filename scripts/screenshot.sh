#!/usr/bin/env bash
# Takes a picture of the real program window on a virtual display with a window manager,
# as a user would see it.
#
#   scripts/screenshot.sh BUILD_DIR OUTPUT.png [options]
#     --screen WxH     the virtual screen's size in pixels (default 1280x800)
#     --scale F        Qt's scale factor, as a desktop's display scaling sets it
#     --dark           a dark desktop theme for Qt programs (qt6ct's "darker" colours)
#     --click X,Y      click at this point of the panel (panel pixels) before the picture
#     --whole-screen   the whole screen rather than the window with its frame
#     --wine           BUILD_DIR is a Windows build: its ZelkConfig.exe under Wine
set -euo pipefail

if [ $# -lt 2 ]; then
    sed -n '4,12p' "$0" >&2
    exit 2
fi
build=$(cd "$1" && pwd)
output=$(realpath -m "$2")
shift 2
screen=1280x800
scale=""
dark=false
click=""
whole=false
wine=false
while [ $# -gt 0 ]; do
    case "$1" in
        --screen) screen=$2; shift 2 ;;
        --scale) scale=$2; shift 2 ;;
        --dark) dark=true; shift ;;
        --click) click=$2; shift 2 ;;
        --whole-screen) whole=true; shift ;;
        --wine) wine=true; shift ;;
        *) echo "screenshot: unknown option $1" >&2; exit 2 ;;
    esac
done
"$(dirname "$0")/install-deps.sh" screenshot
if $wine; then
    "$(dirname "$0")/install-deps.sh" windows
    source "$(dirname "$0")/wine-prefix.sh"
fi

work=$(mktemp -d)
pids=()
cleanup() {
    # The program first, then the window manager, then the display they stand on.
    if $wine; then
        wine_prefix_end
    fi
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill "${pids[$i]}" 2>/dev/null || true
        wait "${pids[$i]}" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT

Xvfb -displayfd 3 -screen 0 "${screen}x24" -nolisten tcp 3>"$work/display" 2>/dev/null &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(cat "$work/display")"
openbox >/dev/null 2>&1 &
pids+=($!)
# A window mapped before the window manager runs gets no frame.
for _ in $(seq 100); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id" && break
    sleep 0.1
done

export XDG_RUNTIME_DIR="$work/runtime" XDG_CONFIG_HOME="$work/config"
mkdir -p -m 700 "$XDG_RUNTIME_DIR"
mkdir -p "$XDG_CONFIG_HOME/qt6ct"
if $dark; then
    printf '[Appearance]\ncolor_scheme_path=/usr/share/qt6ct/colors/darker.conf\ncustom_palette=true\nstyle=Fusion\n' \
        >"$XDG_CONFIG_HOME/qt6ct/qt6ct.conf"
    export QT_QPA_PLATFORMTHEME=qt6ct
fi
[ -n "$scale" ] && export QT_SCALE_FACTOR="$scale"
if $wine; then
    # Its own Wine installation, set up on this display: Wine's desktop process serves the
    # windows of every program of the prefix.
    wine_prefix_start "$work"
    wine_prefix_fonts
    (cd "$work" && exec "$WINE" "$build/ZelkConfig.exe") &
else
    (cd "$work" && exec "$build/ZelkConfig") &
fi
pids+=($!)

title="Zelk Series RF Module Control Panel"
window=""
for _ in $(seq 300); do
    window=$(xwininfo -root -tree 2>/dev/null | grep -F "\"$title\":" | awk '{print $1; exit}' || true)
    [ -n "$window" ] && break
    sleep 0.1
done
[ -n "$window" ] || { echo "screenshot: the window did not appear" >&2; exit 1; }
sleep 1  # the window manager frames and the program paints

if [ -n "$click" ]; then
    read -r x y < <(xwininfo -id "$window" | awk '/Absolute upper-left X/ {x=$4} /Absolute upper-left Y/ {y=$4} END {print x, y}')
    factor=${scale:-1}
    px=$(awk -v a="$x" -v c="${click%,*}" -v f="$factor" 'BEGIN {printf "%d", a + c * f}')
    py=$(awk -v a="$y" -v c="${click#*,}" -v f="$factor" 'BEGIN {printf "%d", a + c * f}')
    xdotool mousemove "$px" "$py" click 1
    sleep 2  # a popup opens and paints
fi

# From the screen itself, so that a popup over the window is in the picture too.
import -window root "$work/screen.png"
if $whole; then
    cp "$work/screen.png" "$output"
else
    # The window manager's frame holds the window: the picture takes in its title bar.
    parent=$(xwininfo -tree -id "$window" | awk '/Parent window id/ {print $4}')
    root=$(xwininfo -root | awk '/Window id/ {print $4}')
    [ "$parent" != "$root" ] && window=$parent
    frame=$(xwininfo -id "$window" |
        awk '/Absolute upper-left X/ {x=$4} /Absolute upper-left Y/ {y=$4}
             /Width:/ {w=$2} /Height:/ {h=$2} END {printf "%dx%d+%d+%d", w, h, x, y}')
    convert "$work/screen.png" -crop "$frame" +repage "$output"
fi
echo "screenshot: $output"
