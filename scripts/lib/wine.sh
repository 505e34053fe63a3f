# Sourced by wine-session and wine-exec: which Wine runs the prefix
# $WINEPREFIX. ORVANTIS_WINE names the loader outright (the build sets it);
# otherwise the prefix's architecture decides: WINEARCH when given, else what
# an existing prefix was made as.

wine_arch() {
    if [ -n "${WINEARCH:-}" ]; then
        echo "$WINEARCH"
    elif grep -qs '^#arch=win32' "$WINEPREFIX/system.reg"; then
        echo win32
    else
        echo win64
    fi
}

wine_loader() {
    if [ -n "${ORVANTIS_WINE:-}" ]; then
        echo "$ORVANTIS_WINE"
    elif [ "$(wine_arch)" = win32 ]; then
        echo /usr/lib/wine/wine
    else
        echo /usr/lib/wine/wine64
    fi
}
