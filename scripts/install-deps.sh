#!/usr/bin/env bash
# Installs the Debian packages that a make target needs, only those missing.
#
#   scripts/install-deps.sh GROUP...
#
# Groups: build (compiler, CMake, Qt), test (GoogleTest, ser2net for the network ports), fuzz,
# format, tidy, windows (the MinGW-w64 cross compiler, GoogleTest's source, Wine with its
# fonts, a virtual display, NSIS and zip for the Windows build, its tests and packages),
# package (Debian packaging and its checks), bench, screenshot
# (a virtual display, a window manager, a dark desktop theme for Qt), icon (rendering the
# window icon from its drawing).
set -euo pipefail

packages=()
for group in "$@"; do
    case "$group" in
        build) packages+=(cmake make g++ ccache pkg-config qt6-base-dev qt6-serialport-dev
                          libgl-dev) ;;
        test) packages+=(libgtest-dev xvfb xdotool ser2net) ;;
        fuzz) packages+=(clang libclang-rt-14-dev) ;;
        format) packages+=(clang-format) ;;
        tidy) packages+=(clang-tidy) ;;
        windows) packages+=(g++-mingw-w64-x86-64-posix googletest wine wine64 fonts-wine xvfb
                            xdotool python3 nsis zip unzip) ;;
        package) packages+=(dpkg-dev fakeroot lintian desktop-file-utils appstream man-db
                            strace procps) ;;
        bench) packages+=(python3 xvfb libx11-6 libxdamage1 ser2net) ;;
        screenshot) packages+=(xvfb xauth x11-apps x11-utils imagemagick openbox qt6ct
                               xdotool) ;;
        icon) packages+=(librsvg2-bin imagemagick) ;;
        *) echo "install-deps: unknown group '$group'" >&2; exit 2 ;;
    esac
done

if ! command -v dpkg-query >/dev/null 2>&1 || ! command -v apt-get >/dev/null 2>&1; then
    echo "install-deps: no apt-get here; install ${packages[*]} (or your system's" \
         "equivalents) yourself. CMake will say what is missing." >&2
    exit 0
fi

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
