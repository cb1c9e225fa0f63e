#!/usr/bin/env bash
# Starts the simulated module on a pty attached as COM1, runs ZelkConfig against it, and
# stops the simulator when the program ends.
#
#   scripts/run-with-simulator.sh BUILD_DIR [zelksim options...]
set -euo pipefail

if [ $# -lt 1 ]; then
    echo "usage: $0 BUILD_DIR [zelksim options...]" >&2
    exit 2
fi
build_dir=$(cd "$1" && pwd)
shift

simulator="$build_dir/zelksim"
program="$build_dir/ZelkConfig"
for binary in "$simulator" "$program"; do
    if [ ! -x "$binary" ]; then
        echo "$0: $binary is missing; build first" >&2
        exit 1
    fi
done

# A fixed name under the build directory, so the port can also be opened by hand while the
# program runs; zelksim replaces a stale link left by an earlier run.
link="$build_dir/zelk-com1"
output=$(mktemp)
simulator_pid=""

stop_simulator() {
    if [ -n "$simulator_pid" ]; then
        kill "$simulator_pid" 2>/dev/null || true
        wait "$simulator_pid" 2>/dev/null || true
    fi
    rm -f "$output"
}
trap stop_simulator EXIT
trap 'exit 130' INT TERM

"$simulator" --link "$link" "$@" >"$output" &
simulator_pid=$!

# zelksim prints its device path once the pty and the link are ready.
device=""
for _ in $(seq 100); do
    device=$(head -n 1 "$output")
    [ -n "$device" ] && break
    if ! kill -0 "$simulator_pid" 2>/dev/null; then
        echo "$0: zelksim did not start" >&2
        exit 1
    fi
    sleep 0.05
done
if [ -z "$device" ]; then
    echo "$0: zelksim printed no device path" >&2
    exit 1
fi

echo "Simulated module on $device (linked as $link), attached as COM1"
status=0
ZELK_COM1="$link" "$program" || status=$?
exit "$status"
