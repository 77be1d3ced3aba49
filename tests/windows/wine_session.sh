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
# Wine's own loader on the Linux side now and then fails an assertion in its exit handlers
# ("Inconsistency detected by ld.so: dl-fini.c"), after the program has ended: that status is
# Wine's, not the program's, and is told and let pass (what the program wrote is checked by
# the tests themselves).
win() {
  local err status=0
  err=$(mktemp)
  wine "$exe" "$@" 2>"$err" || status=$?
  cat "$err" >&2
  if [ "$status" -ne 0 ] && grep -q "Inconsistency detected by ld.so: dl-fini.c" "$err"; then
    echo "note: Wine's loader failed at exit (status $status); not the program's status" >&2
    status=0
  fi
  rm -f "$err"
  return "$status"
}
