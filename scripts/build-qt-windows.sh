#!/usr/bin/env bash
# Builds Qt for Windows, the prefix that make windows compiles against, from the sources:
# Debian 12's qtbase 6.4.2 (Core, Gui, Widgets, Network without TLS, Test, the Windows,
# offscreen and minimal platforms, the Windows style, the ico image plugin) and Qt
# SerialPort 6.4.2, cross-compiled with MinGW-w64 GCC 12 (posix threads) against Debian's
# own Qt tools of the same version. About 25 minutes on two cores.
#
#   scripts/build-qt-windows.sh [PREFIX] [WORK_DIR]    build and install into PREFIX
#                                                      (default /opt/qt6.4.2-mingw)
#   scripts/build-qt-windows.sh --check PREFIX         build nothing: check that the tools,
#                                                      the sources and an existing prefix
#                                                      agree with what this script makes
#
# qtbase comes from "apt-get source qt6-base" (a deb-src line for bookworm is needed);
# Qt SerialPort from its release tarball, taken from ../shared/winsdk/ beside the source
# tree or downloaded, and checked against the checksum below.
set -euo pipefail
cd "$(dirname "$0")/.."
source_tree=$(pwd)

qt_version=6.4.2
debian_version=6.4.2+dfsg-10
serialport=qtserialport-everywhere-src-$qt_version.tar.xz
serialport_url=https://download.qt.io/archive/qt/6.4/$qt_version/submodules/$serialport
serialport_sha256=682626d3ae07074df0f707dab880f1eab1c133a04d5bed688a3ec63af305ae89

# What the program does not use, left out of qtbase; and the libraries Qt bundles rather than
# takes from a MinGW system that has none of them.
features_off=(ssl schannel sql dbus printsupport concurrent xml vulkan direct2d directwrite3
              tabletevent cpp_winrt icu zstd jpeg gif sessionmanager)
bundled=(zlib png freetype harfbuzz pcre2 doubleconversion textmarkdownreader)
tools=(cmake ninja perl x86_64-w64-mingw32-gcc-posix x86_64-w64-mingw32-g++-posix
       x86_64-w64-mingw32-windres /usr/lib/qt6/libexec/moc /usr/lib/qt6/libexec/rcc
       /usr/lib/qt6/libexec/uic)

say() { echo "build-qt-windows: $*"; }
fail() {
    echo "build-qt-windows: $*" >&2
    exit 1
}

check_tools() {
    local tool
    for tool in "${tools[@]}"; do
        command -v "$tool" >/dev/null 2>&1 ||
            fail "$tool is missing (scripts/install-deps.sh build windows, and ninja-build)"
    done
    local host
    host=$(dpkg-query -W -f='${Version}' qt6-base-dev-tools 2>/dev/null || true)
    [ "$host" = "$debian_version" ] ||
        fail "Debian's Qt tools are ${host:-not installed}, the sources $debian_version"
}

# The tarball, from beside the source tree or from Qt's archive, checked.
fetch_serialport() {
    local into=$1
    if [ -f "../shared/winsdk/$serialport" ]; then
        cp "../shared/winsdk/$serialport" "$into/"
    else
        curl -fL --retry 3 -o "$into/$serialport" "$serialport_url"
    fi
    echo "$serialport_sha256  $into/$serialport" | sha256sum -c --quiet - ||
        fail "$serialport is not the release this script was made for"
}

fetch_qtbase() {
    local into=$1
    (cd "$into" && apt-get source --only-source "qt6-base=$debian_version" >/dev/null) ||
        fail "apt-get source qt6-base=$debian_version failed: add a deb-src line for" \
             "bookworm to /etc/apt/sources.list.d/, then apt-get update"
    find "$into" -maxdepth 1 -type d -name "qt6-base-*" | head -n 1
}

# The toolchain is the project's own, without the emulator that runs its tests.
write_toolchain() {
    grep -v CMAKE_CROSSCOMPILING_EMULATOR "$source_tree/cmake/mingw-w64-posix.cmake" >"$1"
}

build() {
    local prefix=$1 work=$2
    check_tools
    mkdir -p "$work"
    local toolchain=$work/mingw-w64-posix.cmake
    write_toolchain "$toolchain"
    say "sources into $work"
    fetch_serialport "$work"
    local qtbase
    qtbase=$(fetch_qtbase "$work")
    local options=()
    for feature in "${features_off[@]}"; do options+=("-DFEATURE_$feature=OFF"); done
    for library in "${bundled[@]}"; do options+=("-DFEATURE_system_$library=OFF"); done
    say "qtbase: configure, build, install into $prefix (logs in $work)"
    cmake -S "$qtbase" -B "$work/qtbase" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
        -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
        -DQT_QMAKE_TARGET_MKSPEC=win32-g++ -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF \
        -DINPUT_opengl=no -DFEATURE_testlib=ON -DFEATURE_network=ON "${options[@]}" \
        >"$work/qtbase-configure.log" 2>&1
    cmake --build "$work/qtbase" -j "$(nproc)" >"$work/qtbase-build.log" 2>&1
    cmake --install "$work/qtbase" --strip >"$work/qtbase-install.log" 2>&1
    say "Qt SerialPort: configure, build, install"
    tar -C "$work" -xJf "$work/$serialport"
    "$prefix/bin/qt-cmake-private" -S "$work/${serialport%.tar.xz}" -B "$work/serialport" \
        -G Ninja -DCMAKE_BUILD_TYPE=Release >"$work/serialport-configure.log" 2>&1
    cmake --build "$work/serialport" -j "$(nproc)" >"$work/serialport-build.log" 2>&1
    cmake --install "$work/serialport" --strip >"$work/serialport-install.log" 2>&1
    # Qt's toolchain file names the one it was built with; the build names it again.
    cp "$toolchain" "$prefix/mingw-posix.cmake"
    say "done: $prefix"
}

# Every feature this script switches off, and every library it bundles, as the prefix's
# own CMake files report them.
check_prefix() {
    local prefix=$1 problems=0
    [ -f "$prefix/lib/cmake/Qt6/qt.toolchain.cmake" ] || fail "$prefix holds no Qt"
    grep -q "QT_VERSION = $qt_version" "$prefix/mkspecs/qconfig.pri" ||
        fail "$prefix is not Qt $qt_version"
    local disabled modules
    disabled=" $(grep -ho 'QT_DISABLED_[A-Z]*_FEATURES "[^"]*"' "$prefix"/lib/cmake/Qt6*/Qt6*Targets.cmake |
        sed 's/.*"\(.*\)"/\1/' | tr ';\n' '  ') "
    modules=" $(ls "$prefix/lib/cmake" | tr '\n' ' ') "
    for feature in "${features_off[@]}" "${bundled[@]/#/system_}"; do
        if [[ "$disabled" != *" $feature "* ]]; then
            echo "build-qt-windows: $prefix has $feature, which this script switches off" >&2
            problems=1
        fi
    done
    for module in Qt6Core Qt6Gui Qt6Widgets Qt6Network Qt6Test Qt6SerialPort; do
        [[ "$modules" == *" $module "* ]] || { echo "build-qt-windows: $prefix lacks $module" >&2; problems=1; }
    done
    for plugin in platforms/qwindows.dll platforms/qoffscreen.dll platforms/qminimal.dll \
        styles/qwindowsvistastyle.dll imageformats/qico.dll; do
        [ -f "$prefix/plugins/$plugin" ] || { echo "build-qt-windows: $prefix lacks $plugin" >&2; problems=1; }
    done
    return $problems
}

check() {
    local prefix=${1:?usage: scripts/build-qt-windows.sh --check PREFIX}
    check_tools
    say "tools: MinGW-w64 posix compilers, CMake, Ninja, Perl, Debian's Qt tools $debian_version"
    local work
    work=$(mktemp -d)
    trap 'rm -rf "$work"' RETURN
    fetch_serialport "$work"
    say "$serialport: checksum as expected"
    if apt-cache showsrc qt6-base 2>/dev/null | grep -q "^Version: $debian_version\$"; then
        say "apt-get source qt6-base=$debian_version is at hand"
    else
        say "apt-get source qt6-base=$debian_version needs a deb-src line for bookworm here"
    fi
    write_toolchain "$work/toolchain.cmake"
    if ! diff -q <(grep -v '^#' "$work/toolchain.cmake" | grep -v '^$') \
        <(grep -v '^#' "$prefix/mingw-posix.cmake" | grep -v '^$') >/dev/null; then
        fail "the toolchain differs from the one $prefix was built with"
    fi
    say "toolchain: the one $prefix was built with"
    check_prefix "$prefix"
    say "$prefix: Qt $qt_version with the modules, plugins and features this script makes"
}

if [ "${1:-}" = "--check" ]; then
    check "${2:-/opt/qt6.4.2-mingw}"
else
    build "${1:-/opt/qt6.4.2-mingw}" "${2:-$(mktemp -d)}"
fi
