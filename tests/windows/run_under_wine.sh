#!/usr/bin/env bash
# Runs a cross-built Windows program under Wine in a Wine prefix of its own (made once), then
# stops that prefix's server. Usage: run_under_wine.sh <prefix> <program.exe> [arguments...]
set -euo pipefail
prefix="$1"; shift
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY=
if [ ! -f "$prefix/system.reg" ]; then
  mkdir -p "$prefix"
  wineboot -i >/dev/null 2>&1
  wineserver -w
fi
status=0
wine "$@" || status=$?
wineserver -k 2>/dev/null || true
exit "$status"
