#!/usr/bin/env bash
# The Windows packages, from a Windows build: a zip that holds one folder which runs where
# it is unpacked, and an installer made with NSIS.
#
#   scripts/windows-package.sh BUILD_DIR
#
# Makes BUILD_DIR/ZelkConfig-VERSION-win64.zip and BUILD_DIR/ZelkConfig-VERSION-setup.exe.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:?usage: scripts/windows-package.sh BUILD_DIR}" && pwd)

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[ -n "$version" ] || { echo "windows-package: $build is no configured build" >&2; exit 1; }
name=ZelkConfig-$version-win64
work=$build/package
rm -rf "$work"
mkdir -p "$work"

# The folder, as an installation puts it in place; the compiler's runtime comes unstripped.
cmake --install "$build" --prefix "$work/$name" --strip >/dev/null
for library in libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll; do
    x86_64-w64-mingw32-strip --strip-unneeded "$work/$name/$library"
done
for file in ZelkConfig.exe zelkctl.exe ZelkConfig_en.uir ZelkConfig.ico Qt6Core.dll \
    platforms/qwindows.dll LICENSE.txt LICENSE-Qt.txt licences/LGPL-3.txt; do
    [ -f "$work/$name/$file" ] || { echo "windows-package: $file is not installed" >&2; exit 1; }
done

zip_file=$build/$name.zip
rm -f "$zip_file"
(cd "$work" && zip -q -r -X "$zip_file" "$name")

# What the uninstaller removes: every file and folder the installation brings, deepest
# first, and nothing else.
remove=$work/remove.nsh
(
    cd "$work/$name"
    find . -type f | sort -r | sed 's|^\./||; s|/|\\|g; s|.*|    Delete "$INSTDIR\\&"|'
    find . -mindepth 1 -type d | sort -r | sed 's|^\./||; s|/|\\|g; s|.*|    RMDir "$INSTDIR\\&"|'
) >"$remove"

installer=$build/ZelkConfig-$version-setup.exe
rm -f "$installer"
makensis -V2 -DVERSION="$version" -DSTAGE="$work/$name" -DREMOVE="$remove" \
    -DOUTFILE="$installer" "$here/../packaging/windows/ZelkConfig.nsi"
ls -l "$zip_file" "$installer" | awk '{print "windows-package:", $NF, $5, "bytes"}'
