#!/usr/bin/env bash
# Runs a Windows test program under Wine on an X server and a Wine prefix of its own.
# Usage: run_under_wine.sh <program.exe> [arguments]
set -euo pipefail
program=$(realpath "$1")
shift
fail() { echo "FAIL: $*" >&2; exit 1; }
e2e="$(dirname "${BASH_SOURCE[0]}")/../../e2e"
source "$e2e/own_xvfb.sh"
source "$e2e/wine_prefix.sh"
cd "$work"
wine "$program" "$@"
