#!/usr/bin/env bash
# Makes sure Qt for Windows (MinGW-w64) is at the prefix the Windows build uses.
#
#   scripts/windows-qt.sh PREFIX
#
# A prefix that holds Qt is taken as it is. Otherwise the prebuilt tarball from
# ../shared/winsdk/ beside the source tree is unpacked there, when that is at hand; without
# it the script stops and says how to get one.
set -euo pipefail
cd "$(dirname "$0")/.."

prefix=${1:?usage: scripts/windows-qt.sh PREFIX}
tarball=$(realpath -m ../shared/winsdk/qt6.4.2-mingw.tar.xz)
marker=lib/cmake/Qt6/qt.toolchain.cmake

[ -f "$prefix/$marker" ] && exit 0

if [ ! -f "$tarball" ]; then
    cat >&2 <<EOF
windows: no Qt for Windows at $prefix, and no $tarball to unpack there.
  Either build it from the sources (about 25 minutes on two cores):
      scripts/build-qt-windows.sh $prefix
  or unpack a prebuilt qt6.4.2-mingw.tar.xz elsewhere and name it:
      make windows ZELK_QT_WINDOWS=/path/to/qt6.4.2-mingw
EOF
    exit 1
fi

# Unpacked beside the prefix and renamed into place in one step, under a lock, so that two
# builds started at once never see half a Qt.
parent=$(dirname "$prefix")
mkdir -p "$parent"
exec 9>"$parent/.$(basename "$prefix").lock"
flock 9
if [ ! -f "$prefix/$marker" ]; then
    echo "windows: unpacking $tarball into $prefix"
    work=$(mktemp -d "$parent/.qt-unpack.XXXXXX")
    trap 'rm -rf "$work"' EXIT
    tar -C "$work" -xJf "$tarball"
    [ -f "$work/qt6.4.2-mingw/$marker" ] || {
        echo "windows: $tarball holds no qt6.4.2-mingw/$marker" >&2
        exit 1
    }
    rm -rf "$prefix"
    mv "$work/qt6.4.2-mingw" "$prefix"
fi
