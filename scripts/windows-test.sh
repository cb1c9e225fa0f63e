#!/usr/bin/env bash
# The Windows build under Wine, in a Wine installation of its own that goes with the run:
# the tests that need no pseudo-terminal (through CTest, Qt's offscreen platform), then the
# real ZelkConfig.exe on a virtual display, its panel seen and EXIT pressed, then
# zelkctl.exe's offline commands with Windows paths.
#
#   scripts/windows-test.sh BUILD_DIR [JOBS]
set -euo pipefail
build=$(cd "${1:?usage: scripts/windows-test.sh BUILD_DIR [JOBS]}" && pwd)
jobs=${2:-2}
here=$(cd "$(dirname "$0")" && pwd)
source "$here/wine-prefix.sh"

fail() {
    echo "windows-test: $*" >&2
    exit 1
}

work=$(mktemp -d "$build/windows-test.XXXXXX")
pids=()
cleanup() {
    wine_prefix_end
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT

# A virtual display for the window.
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || fail "Xvfb did not start"
export DISPLAY=":$(cat "$work/display")"
wine_prefix_start "$build"
wine_prefix_fonts

# The tests draw offscreen; a Wine program that sees a display takes many times as long.
echo "windows-test: the tests under Wine"
(cd "$build" && env -u DISPLAY ctest --output-on-failure --no-tests=error -j "$jobs")

# --- The window on a virtual display: mapped, then EXIT pressed. ------------------------
# Wine's desktop process serves the windows of every program of a session, and one that a
# program started without a display (the tests) can show none: the window gets a new one.
wine_prefix_restart
echo "windows-test: ZelkConfig.exe on a virtual display"

"$WINE" "$build/ZelkConfig.exe" >"$work/window.out" 2>&1 &
program=$!
title="Zelk Series RF Module Control Panel"
window=""
# Only against a hang: Wine starts its desktop services first, slowly on a busy machine.
for _ in $(seq 1200); do
    window=$(xdotool search --onlyvisible --name "^$title\$" 2>/dev/null | head -n 1 || true)
    [ -n "$window" ] && break
    kill -0 "$program" 2>/dev/null || break
    sleep 0.1
done
[ -n "$window" ] || fail "the panel did not show: $(cat "$work/window.out")"
# EXIT's middle, in the panel's own pixels (its rect in the panel file: top, left, bottom,
# right).
read -r x y < <(python3 -c '
import json, sys
panel = json.load(open(sys.argv[1]))["panels"][0]
top, left, bottom, right = next(c for c in panel["controls"] if c.get("constant") == "QUIT")["rect"]
print((left + right) // 2, (top + bottom) // 2)' "$build/ZelkConfig_en.uir")
# A window that shows takes input a moment later, how much later a busy machine decides:
# a click it did not take yet is lost, so EXIT is pressed again every two seconds until the
# program ends (a press after it ended finds no window).
status=""
for tick in $(seq 0 599); do
    if [ $((tick % 20)) -eq 0 ]; then
        xdotool mousemove --window "$window" "$x" "$y" click 1 2>/dev/null || true
    fi
    if ! kill -0 "$program" 2>/dev/null; then
        status=0
        wait "$program" || status=$?
        break
    fi
    sleep 0.1
done
[ -n "$status" ] || fail "ZelkConfig.exe did not end after EXIT"
[ "$status" -eq 0 ] || fail "ZelkConfig.exe ended with status $status: $(cat "$work/window.out")"
echo "windows-test: the panel showed and EXIT ended it with status 0"

# --- zelkctl.exe offline, with Windows paths. ------------------------------------------
echo "windows-test: zelkctl.exe offline"
files="$work/files"
mkdir -p "$files"
printf 'S100=50\r\nS111=7\r\nS121=10\r\n>' >"$files/recipe.txt"
printf 'S111 = 7\r\n' >"$files/bad.txt"
echo 40 >"$files/ids.txt"
folder=$("$WINE" winepath -w "$files" 2>/dev/null | tr -d '\r')
zelkctl() {  # expected status, then the arguments; stdout in $said
    local expected=$1 status=0
    shift
    said=$("$WINE" "$build/zelkctl.exe" "$@" 2>"$files/stderr" | tr -d '\r') || status=$?
    [ "$status" -eq "$expected" ] ||
        fail "zelkctl $* ended with $status, not $expected: $(cat "$files/stderr")"
}
zelkctl 0 help
[[ "$said" == "Usage: zelkctl COMMAND"* ]] || fail "zelkctl help printed: $said"
zelkctl 0 check "$folder\\recipe.txt" -s T1b --set "S121=next:$folder\\ids.txt"
[[ "$said" == *"S111=7"* && "$said" == *"S121=40  (the next ID of"* ]] ||
    fail "zelkctl check printed: $said"
zelkctl 6 check "$folder\\bad.txt" -s T1b
grep -q 'bad.txt:1: "S111 = 7": no spaces' "$files/stderr" ||
    fail "zelkctl check of a malformed file said: $(cat "$files/stderr")"
zelkctl 2 check "$folder\\recipe.txt" -s T1b --set S113=4
grep -q 'a Zelk-T1b has no S113' "$files/stderr" ||
    fail "zelkctl check of a register T1b lacks said: $(cat "$files/stderr")"
[ "$(cat "$files/ids.txt")" = 40 ] || fail "check changed the counter: $(cat "$files/ids.txt")"
said=$("$WINE" "$build/zelkctl.exe" check - -s T1b <"$files/recipe.txt" 2>"$files/stderr" | tr -d '\r')
[[ "$said" == *"S111=7"* ]] || fail "zelkctl check - printed: $said $(cat "$files/stderr")"
# Two ports at once, a process each, neither of which this machine has.
zelkctl 3 version -p COM98 -p COM99 -s T1b
grep -q '2 ports: 0 done, failed: COM98 (exit 3), COM99 (exit 3)' "$files/stderr" ||
    fail "zelkctl on two missing ports said: $(cat "$files/stderr")"
echo "windows-test: zelkctl.exe's help, check of a file and of standard input, a malformed file" \
     "(6), a register the series lacks (2), two missing ports at once (3)"
