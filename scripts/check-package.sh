#!/usr/bin/env bash
# Checks the Debian package as a user's system takes it: the program from the package
# starts from any working directory and finds its panel file; without the panel file it
# says where it looked; zelkctl's bash completion is where bash looks for it and
# completes; the desktop entry and the AppStream metadata are valid; lintian finds no error
# (its warnings are listed, not fatal).
#
#   scripts/check-package.sh PACKAGE.deb
set -euo pipefail

if [ $# -ne 1 ] || [ ! -f "$1" ]; then
    echo "usage: $0 PACKAGE.deb" >&2
    exit 2
fi
package=$(realpath "$1")
scripts=$(realpath "$(dirname "$0")")
work=$(mktemp -d)
tracer_pid=""
program_pid=""
cleanup() {
    [ -n "$program_pid" ] && kill "$program_pid" 2>/dev/null
    [ -n "$tracer_pid" ] && wait "$tracer_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "check-package: $1" >&2
    [ -s "$work/stderr" ] && sed 's/^/  stderr: /' "$work/stderr" >&2
    exit 1
}

root="$work/root"
dpkg-deb -x "$package" "$root"
mkdir -p "$work/elsewhere" "$work/runtime"
chmod 700 "$work/runtime"
program="$root/usr/bin/ZelkConfig"
panel="$root/usr/share/zelkconfig/ZelkConfig_en.uir"

# Started from another directory, offscreen, the program must open the panel file in the
# data directory beside its bin directory. The trace of its file opens shows where it
# found the file; a program that could not use it exits at once with one line on stderr.
(
    cd "$work/elsewhere"
    exec env XDG_RUNTIME_DIR="$work/runtime" QT_QPA_PLATFORM=offscreen \
        strace -f -qq -e trace=openat -o "$work/trace" "$program" 2>"$work/stderr"
) &
tracer_pid=$!
opened=false
for _ in $(seq 600); do
    if grep -q "\"$panel\", O_RDONLY[^=]*= [0-9]" "$work/trace" 2>/dev/null; then
        opened=true
        break
    fi
    kill -0 "$tracer_pid" 2>/dev/null || break
    sleep 0.1
done
$opened || fail "the packaged program did not open $panel"
program_pid=$(pgrep -P "$tracer_pid" || true)
# Building the panel follows the read directly; a panel it cannot use ends the program.
for _ in $(seq 20); do
    kill -0 "$tracer_pid" 2>/dev/null || fail "the packaged program ended after reading its panel"
    sleep 0.1
done
if grep -q "^ZelkConfig:" "$work/stderr"; then
    fail "the packaged program reported a failure"
fi
kill "$program_pid"
wait "$tracer_pid" 2>/dev/null || true
program_pid=""
tracer_pid=""
echo "check-package: the packaged program started from $work/elsewhere with its panel"

# Without the panel file it ends with -1, naming both places it looked.
rm "$panel"
status=0
(cd "$work/elsewhere" && XDG_RUNTIME_DIR="$work/runtime" QT_QPA_PLATFORM=offscreen \
    timeout 120 "$program" 2>"$work/stderr") || status=$?
[ "$status" -eq 255 ] || fail "without its panel file the program ended with $status, not 255"
for place in "$root/usr/bin/ZelkConfig_en.uir" "$panel"; do
    grep -qF "$place" "$work/stderr" || fail "its error does not name $place"
done
echo "check-package: without its panel file it names both places it looked"

# The packaged zelkctl, started from elsewhere, reaches the serial ports and gives the
# system's reason for a missing device.
status=0
(cd "$work/elsewhere" && "$root/usr/bin/zelkctl" read -p /nonexistent/zelk-port -s K8 \
    2>"$work/stderr" >/dev/null) || status=$?
grep -q "cannot open the port: /nonexistent/zelk-port: No such file" "$work/stderr" ||
    fail "the packaged zelkctl did not name the missing device (exit status $status)"
echo "check-package: the packaged zelkctl names a missing device"

# zelkctl's bash completion, where bash looks for it, completing in bash.
completion="$root/usr/share/bash-completion/completions/zelkctl"
[ -f "$completion" ] || fail "the package holds no bash completion for zelkctl"
"$scripts/check-completion.sh" "$completion" >/dev/null ||
    fail "the packaged bash completion does not complete"
echo "check-package: the bash completion of zelkctl completes"

desktop-file-validate "$root/usr/share/applications/ZelkConfig.desktop"
echo "check-package: the desktop entry is valid"
appstreamcli validate --no-net "$root"/usr/share/metainfo/*.metainfo.xml

# Lintian's errors fail the check; its warnings and notes are shown.
lintian --fail-on error --display-level ">=warning" "$package"
echo "check-package: lintian finds no error in $(basename "$package")"
