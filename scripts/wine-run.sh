#!/usr/bin/env bash
# Runs a Windows program under Debian's 64-bit Wine, with the program's status, standard
# streams and working directory; CMake's test driver calls it for every Windows test.
#
#   scripts/wine-run.sh PROGRAM.exe [ARGUMENT...]
#
# WINEPREFIX is the Wine installation to run in: make windows-test makes a fresh one for
# each run. Without it the programs of a build share build-windows/wine-prefix, made on the
# first run (which takes many seconds). WINEDEBUG defaults to silence: Wine's own notes on
# stderr would mix with the program's.
set -euo pipefail

program=${1:?usage: scripts/wine-run.sh PROGRAM.exe [ARGUMENT...]}
shift
if [ -z "${WINEPREFIX:-}" ]; then
    WINEPREFIX="$(cd "$(dirname "$program")" && pwd)/wine-prefix"
fi
export WINEPREFIX
export WINEDEBUG=${WINEDEBUG:--all}
wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine=$(command -v wine64 || command -v wine)
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    # Serialised: two tests starting at once would both set up the same prefix.
    flock "$WINEPREFIX" sh -c '[ -f "$0/system.reg" ] || "$1" wineboot -i >/dev/null 2>&1' \
        "$WINEPREFIX" "$wine"
fi
exec "$wine" "$program" "$@"
