# Sourced by the scripts that run the Windows program under Wine: a Wine prefix in WINEPREFIX
# (made there once and kept, so that later runs skip Wine's slow first start), or one of the
# script's own in $work/prefix, made ready for a headless X server:
# - the Japanese faces the program asks for are mapped to the IPA fonts, as a Windows
#   installation with the Japanese fonts would show them;
# - windows are left unmanaged: there is no window manager to acknowledge them, and Wine
#   would otherwise wait two seconds for one at every window that goes away;
# - no sound driver: there is no sound card, and the program is silent without one;
# - no .NET or HTML engine to install on the first start.
# Expects fail() and work; exports WINEPREFIX and WINEDEBUG; stops the prefix's server at exit.

export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export WINEPREFIX="${WINEPREFIX:-$work/prefix}"
if [ ! -f "$WINEPREFIX/.pyokoran-ready" ]; then
  mkdir -p "$WINEPREFIX"
  wineboot -i >"$work/wineboot.log" 2>&1 || fail "wineboot failed: $(tail -5 "$work/wineboot.log")"
  {
    echo 'Windows Registry Editor Version 5.00'
    echo
    echo '[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]'
    for face in "ＭＳ Ｐゴシック" "ＭＳ ゴシック" "MS UI Gothic" "MS PGothic" "MS Gothic"; do
      echo "\"$face\"=\"IPAPGothic\""
    done
    echo
    echo '[HKEY_CURRENT_USER\Software\Wine\X11 Driver]'
    echo '"Managed"="N"'
    echo
    echo '[HKEY_CURRENT_USER\Software\Wine\Drivers]'
    echo '"Audio"=""'
  } | sed "s/$/\r/" | iconv -f UTF-8 -t UTF-16LE | { printf "\xff\xfe"; cat; } >"$work/settings.reg"
  wine regedit /S "$(winepath -w "$work/settings.reg")" >/dev/null 2>&1 ||
    fail "the Wine prefix's settings could not be written"
  wineserver -w
  touch "$WINEPREFIX/.pyokoran-ready"
fi

wine_cleanup() {
  wineserver -k 2>/dev/null || true
  cleanup
}
trap wine_cleanup EXIT
