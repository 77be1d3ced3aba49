#!/usr/bin/env bash
# What `cmake --install` puts in place, installed into a temporary prefix: the program answers
# --version and --help there without a display, refuses an unknown option with status 2, finds
# its sample stimuli; the desktop entry and the AppStream metainfo validate; the icon is there
# in every size under the name the entry gives; the guide's two pages are with the documents,
# their pictures inside, linking each other.
# Usage: install_tree_tests.sh <build folder> <source folder>
set -euo pipefail
build=$(realpath "$1")
source=$(realpath "$2")

fail() { echo "FAIL: $*" >&2; exit 1; }

prefix=$(mktemp -d /tmp/pyokoran-install-XXXXXX)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >"$prefix/install.log" || fail "cmake --install: $(cat "$prefix/install.log")"

program="$prefix/bin/pyokoran"
[ -x "$program" ] || fail "no program in bin/"
headless() { env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$@"; }

version=$(headless "$program" --version) || fail "--version failed"
expected=$(sed -n 's/^project(pyokoran VERSION \([0-9.]*\).*/\1/p' "$source/CMakeLists.txt")
[[ "$version" == "pyokoran $expected"* ]] || fail "--version says '$version', not $expected"

help=$(HOME="$prefix/home" headless "$program" --help) || fail "--help failed"
grep -q -- "--folder <DIR>" <<<"$help" || fail "--help without --folder: $help"
grep -qx -- "  $prefix/home/ピョコラン" <<<"$help" ||
  fail "--help does not say where the desktop menu's working folder is: $help"

set +e
headless "$program" --no-such-option >/dev/null 2>"$prefix/err"
status=$?
set -e
[ "$status" -eq 2 ] || fail "an unknown option ended with status $status"
grep -q "Unknown option 'no-such-option'" "$prefix/err" || fail "unknown option: $(cat "$prefix/err")"

for f in "$source"/stim/*; do
  cmp -s "$f" "$prefix/share/pyokoran/stim/$(basename "$f")" || fail "sample stimulus $(basename "$f") not installed"
done

desktop="$prefix/share/applications/org.pyokoran.Pyokoran.desktop"
desktop-file-validate "$desktop" | grep -v "more than one main category" | grep . && fail "desktop entry"
grep -qx "Exec=pyokoran --documents" "$desktop" || fail "Exec line: $(grep ^Exec "$desktop")"
grep -qx "Name\[ja\]=ピョコラン" "$desktop" || fail "no Japanese name"

metainfo="$prefix/share/metainfo/org.pyokoran.Pyokoran.metainfo.xml"
appstreamcli validate --no-net "$metainfo" >"$prefix/appstream.log" || fail "metainfo: $(cat "$prefix/appstream.log")"
grep -q "<release version=\"$expected\"" "$metainfo" || fail "metainfo names another release"

icon=$(sed -n 's/^Icon=//p' "$desktop")
for size in 16 22 24 32 48 64 128 256; do
  png="$prefix/share/icons/hicolor/${size}x${size}/apps/$icon.png"
  [ "$(head -c 8 "$png" | od -An -tx1 | tr -d ' \n')" = "89504e470d0a1a0a" ] || fail "no PNG icon at $size"
  [ "$(od -An -tu1 -j16 -N8 "$png" | awk '{print $3 * 256 + $4, $7 * 256 + $8}')" = "$size $size" ] ||
    fail "icon $png is not $size x $size"
done
for page in guide.html:guide.en.html guide.en.html:guide.html; do
  html="$prefix/share/doc/pyokoran/${page%%:*}"
  [ -f "$html" ] || fail "no ${page%%:*} in share/doc/pyokoran"
  grep -q 'src="data:image/png;base64,' "$html" || fail "${page%%:*} holds no pictures"
  grep -q 'src="images/' "$html" && fail "${page%%:*} points to pictures outside itself"
  grep -q "href=\"${page#*:}\"" "$html" || fail "${page%%:*} does not link ${page#*:}"
done
echo "1 passed, 0 failed"
