# Sourced by the scripts that run the Windows programs under Wine: 64-bit, quiet, and no
# menu entries of the Windows programs on the host.
#   wine_prefix FOLDER        use the Wine prefix in FOLDER (made when missing), started
#   wine_fresh_prefix FOLDER  the same, emptied first
#   wine_qt_fonts             the font folder of Qt's offscreen platform (window tests)
#   wine_map_port COMn PATH   COMn is the device at PATH, from the next start of Wine
#   wine_unmap_port COMn
#   wine_reg_add KEY NAME TEXT  a string value in the registry
#   wine_restart              stops Wine and starts it again (it reads the ports then)
#   winpath PATH              PATH as Windows programs see it (Z:\...)
export WINEDEBUG=-all WINEARCH=win64
export WINEDLLOVERRIDES=winemenubuilder.exe=d

winpath() { echo "Z:${1//\//\\}"; }

wine_prefix() {
    WINEPREFIX=$(realpath -m "$1")
    export WINEPREFIX
    # Started once, quietly, and left to settle: otherwise every program run waits on
    # Wine's helpers starting up.
    wineboot -i >/dev/null 2>&1 || true
    wineserver -w
}

wine_fresh_prefix() {
    rm -rf "$1"
    wine_prefix "$1"
}

# On Windows the offscreen platform reads fonts from a folder, not from the system: the
# same face as on Linux, so that captions measure alike. Wine keeps the host's QT_*
# variables from Windows programs, so the folder goes into the prefix's environment.
wine_qt_fonts() {
    wine_reg_add 'HKCU\Environment' QT_QPA_FONTDIR "$(winpath /usr/share/fonts/truetype/dejavu)"
    wineserver -w
}

wine_map_port() {
    wine_reg_add 'HKLM\Software\Wine\Ports' "$1" "$2"
}

# wine_reg_add KEY NAME TEXT: sets a string value. Wine's server now and then drops a
# client that starts while it is shutting down; such a start is made again.
wine_reg_add() {
    local try
    for try in 1 2 3; do
        wine reg add "$1" /v "$2" /t REG_SZ /d "$3" /f >/dev/null 2>&1 && return 0
        wineserver -w
    done
    echo "wine reg add $1 /v $2 failed three times" >&2
    return 1
}

wine_unmap_port() {
    wine reg delete 'HKLM\Software\Wine\Ports' /v "$1" /f >/dev/null 2>&1 || true
}

wine_restart() {
    wineserver -k 2>/dev/null || true
    wineboot >/dev/null 2>&1 || true
}
