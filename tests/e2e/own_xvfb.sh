# Sourced by the end-to-end scripts: the scratch folder, cleanup on exit, and an X server of
# the script's own. Expects fail() to be defined; sets work, xvfb_pid, app_pid and DISPLAY.

work=$(mktemp -d /tmp/pyokoran-e2e-XXXXXX)
xvfb_pid=""
app_pid=""
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# The server picks a free display number itself and writes it once it accepts clients, so
# scripts running side by side never share one.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
export DISPLAY=":$(tr -d '[:space:]' <"$work/display")"
for _ in $(seq 50); do xdotool getmouselocation >/dev/null 2>&1 && break; sleep 0.1; done
xdotool getmouselocation >/dev/null 2>&1 ||
  fail "the X server on $DISPLAY took no clients (pid $xvfb_pid $(kill -0 "$xvfb_pid" 2>/dev/null && echo running || echo gone)): $(cat "$work/xvfb.log")"
