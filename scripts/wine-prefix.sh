# A Wine installation of its own for one run of the Windows checks; sourced.
#
#   wine_prefix_start BUILD_DIR   makes a fresh one under BUILD_DIR and exports WINEPREFIX,
#                                 WINEDEBUG and WINE (Debian's 64-bit loader)
#   wine_prefix_fonts             gives it Wine's own fonts (see below)
#   wine_prefix_restart           ends its Wine session, so that the next program starts one
#                                 that sees the display of the moment
#   wine_prefix_end               stops its Wine server and removes it

wine_prefix_start() {
    WINE=/usr/lib/wine/wine64
    [ -x "$WINE" ] || WINE=$(command -v wine64 || command -v wine)
    WINEPREFIX=$(mktemp -d "$1/wine.XXXXXX")
    export WINE WINEPREFIX
    export WINEDEBUG=-all
    # The first start of a prefix sets it up, which takes many seconds.
    "$WINE" wineboot -i >/dev/null 2>&1
}

# Debian's Wine finds the fonts of fonts-wine (its Tahoma, which Windows' dialog font maps
# to) only in the prefix's own Fonts folder; without them a window gets a serif face. Before
# the first program that draws text.
wine_prefix_fonts() {
    cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
}

wine_prefix_restart() {
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
}

wine_prefix_end() {
    if [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ]; then
        wine_prefix_restart
        rm -rf "$WINEPREFIX"
    fi
}
