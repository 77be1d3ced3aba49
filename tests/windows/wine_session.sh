# Sourced by the command-line tests of the Windows program: a Wine prefix of its own (made
# once), one Wine server kept for the whole script and stopped at its end, and `win` to run
# the program with its output, status and UTF-8 arguments as a terminal would give them.
# Set prefix and exe first.
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY= LC_ALL=C.UTF-8
if [ ! -f "$prefix/system.reg" ]; then
  mkdir -p "$prefix"
  wineboot -i >/dev/null 2>&1
  wineserver -w
fi
wineserver -p </dev/null >/dev/null 2>&1
wine_cleanup() { wineserver -k 2>/dev/null || true; }
trap 'wine_cleanup; rm -rf "$dir"' EXIT
win() { wine "$exe" "$@"; }
