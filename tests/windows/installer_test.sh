#!/usr/bin/env bash
# The Windows packages made by scripts/package-windows, tried under Wine in a prefix of their own:
# the installer installs silently for the current user (/CurrentUser) and for all users
# (/AllUsers, into a folder chosen with /D=), with the program, the stimuli, the guide, the
# Start-menu shortcuts (the program and the guide in both languages) and the Apps & features
# registration in place; each installation is removed silently (once through the registered
# QuietUninstallString, once by starting the uninstaller in its folder), taking its files and
# shortcuts with it, and a working folder Documents\ピョコラン with data planted in it survives
# both. Then the portable zip's listing.
# Usage: installer_test.sh <build dir> <source dir> <version>
# Exit status 77 (skipped) when the packages have not been made.
set -euo pipefail
build="$1" source="$2" version="$3"
setup="$build/pyokoran-$version-setup.exe"
zipfile="$build/pyokoran-$version-windows.zip"
if [ ! -f "$setup" ] || [ ! -f "$zipfile" ]; then
  echo "No packages in $build: make them with scripts/package-windows."
  exit 77
fi

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
check_same() {  # <expected file> <actual file> <what>
  if [ ! -f "$2" ]; then fail "$3 is missing ($2)"
  elif ! cmp -s "$1" "$2"; then fail "$3 differs from $1 (packages older than the build? run scripts/package-windows)"
  fi
}

uninstall_key='Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Pyokoran'
reg_value() {  # <hive file> <value name>: the value's text as the hive file stores it
  KEY="[$uninstall_key]" NAME="\"$2\"=" awk '
    index($0, "[") == 1 { inside = index($0, ENVIRON["KEY"]) == 1; next }
    inside && index($0, ENVIRON["NAME"]) == 1 { print substr($0, length(ENVIRON["NAME"]) + 1) }' "$1"
}
name_escaped='"\x30d4\x30e7\x30b3\x30e9\x30f3"'  # ピョコラン as Wine's hive files write it

# One prefix for the whole test, kept between runs; one that a failed run left with an
# installation registered is made anew. The user's folders are plain folders inside it, never links
# into the real home folder, so nothing here touches the machine's own files.
export WINEPREFIX="$build/wineprefix-installer" WINEDEBUG=-all DISPLAY=
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
trap 'wineserver -k 2>/dev/null || true' EXIT
drive="$WINEPREFIX/drive_c"
if [ -f "$WINEPREFIX/system.reg" ] &&
   { [ -n "$(reg_value "$WINEPREFIX/system.reg" DisplayName)" ] ||
     [ -n "$(reg_value "$WINEPREFIX/user.reg" DisplayName)" ]; }; then
  rm -rf "$WINEPREFIX"
fi
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  wineboot -i >/dev/null 2>&1
  wineserver -w
fi
user=""
for d in "$drive"/users/*; do
  [ "$(basename "$d")" = Public ] || user="$d"
done
[ -n "$user" ] || { echo "FAIL: no user folder in $WINEPREFIX"; exit 1; }
for d in Desktop Documents Downloads Music Pictures Videos; do
  if [ -L "$user/$d" ]; then rm "$user/$d"; mkdir "$user/$d"; fi
done

# Places per install mode: folder, Start menu, hive file; the other mode's hive must stay clean.
declare -A folder menu hive other
folder[CurrentUser]="$user/AppData/Local/Programs/Pyokoran"
folder[AllUsers]="$drive/Lab/Pyokoran"
menu[CurrentUser]="$user/AppData/Roaming/Microsoft/Windows/Start Menu/Programs"
menu[AllUsers]="$drive/ProgramData/Microsoft/Windows/Start Menu/Programs"
hive[CurrentUser]="$WINEPREFIX/user.reg"
hive[AllUsers]="$WINEPREFIX/system.reg"
other[CurrentUser]=AllUsers
other[AllUsers]=CurrentUser

data="$user/Documents/ピョコラン"
rm -rf "${folder[CurrentUser]}" "${folder[AllUsers]}" "$data"
# The Start menu's entries: shortcut name, and what it starts.
shortcuts=("ピョコラン:pyokoran.exe" "ピョコラン ガイド:guide.html" "ピョコラン Guide:guide.en.html")
for m in CurrentUser AllUsers; do
  for s in "${shortcuts[@]}"; do rm -f "${menu[$m]}/${s%%:*}.lnk"; done
done

for mode in CurrentUser AllUsers; do
  dir="${folder[$mode]}"
  echo "== install /S /$mode"
  if [ "$mode" = AllUsers ]; then
    wine "$setup" /S /AllUsers '/D=C:\Lab\Pyokoran' || fail "installer exited with $?"
  else
    wine "$setup" /S /CurrentUser || fail "installer exited with $?"
  fi
  wineserver -w

  check_same "$build/pyokoran.exe" "$dir/pyokoran.exe" "installed pyokoran.exe"
  for f in "$source"/stim/*; do
    check_same "$f" "$dir/stim/$(basename "$f")" "installed stim/$(basename "$f")"
  done
  for g in guide.html guide.en.html; do check_same "$build/$g" "$dir/$g" "installed $g"; done
  [ -f "$dir/readme.txt" ] || fail "no readme.txt in $dir"
  [ -f "$dir/uninstall.exe" ] || fail "no uninstall.exe in $dir"

  lnk="${menu[$mode]}/ピョコラン.lnk"
  if [ -f "$lnk" ]; then
    strings -el "$lnk" | grep -qx -- "--documents" || fail "the shortcut does not pass --documents"
    # The target's path is stored as its components.
    strings -el "$lnk" | grep -qx 'pyokoran\.exe' || fail "the shortcut does not start pyokoran.exe"
    strings -el "$lnk" | grep -q 'Pyokoran\\pyokoran\.ico$' || fail "the shortcut lacks the icon"
  else
    fail "no Start-menu shortcut $lnk"
  fi
  for s in "${shortcuts[@]:1}"; do
    guide_lnk="${menu[$mode]}/${s%%:*}.lnk"
    if [ ! -f "$guide_lnk" ]; then fail "no Start-menu shortcut $guide_lnk"
    else strings -el "$guide_lnk" | grep -qx "${s#*:}" || fail "the shortcut ${s%%:*} does not open ${s#*:}"
    fi
  done

  h="${hive[$mode]}"
  [ "$(reg_value "$h" DisplayName)" = "$name_escaped" ] || fail "Apps & features: DisplayName is '$(reg_value "$h" DisplayName)'"
  [ "$(reg_value "$h" DisplayVersion)" = "\"$version\"" ] || fail "Apps & features: DisplayVersion is '$(reg_value "$h" DisplayVersion)'"
  quiet=$(reg_value "$h" QuietUninstallString)
  [[ "$quiet" == *'\\uninstall.exe\" /'$mode' /S"' ]] || fail "Apps & features: QuietUninstallString is '$quiet'"
  [ -z "$(reg_value "${hive[${other[$mode]}]}" DisplayName)" ] || fail "a $mode install registered in the other hive"

  # Data of the user's own, as the program leaves it after some runs.
  mkdir -p "$data/stim"
  printf 'Subject\tDate\r\nA01\t2026/12/11\r\n' >"$data/ピョコラン.txt"
  printf 'subject = A01\r\n' >"$data/ピョコラン.ini"
  printf 'own stimulus' >"$data/stim/bg.bmp"
  saved=$(mktemp -d)
  cp -a "$data/." "$saved/"

  if [ "$mode" = CurrentUser ]; then
    # As Apps & features runs it: the registered command line, unquoted from the hive file.
    command=$(printf '%s' "$quiet" | sed -e 's/^"//' -e 's/"$//' -e 's/\\"/"/g' -e 's/\\\\/\\/g')
    exe="${command#\"}"; exe="${exe%%\"*}"
    read -r -a args <<<"${command##*\" }"
    echo "== uninstall: $command"
    wine "$exe" "${args[@]}" || fail "uninstaller exited with $?"
  else
    echo "== uninstall /S from its folder, no mode given"
    wine "$dir/uninstall.exe" /S || fail "uninstaller exited with $?"
  fi
  wineserver -w  # the uninstaller goes on in a copy of itself

  [ ! -e "$dir" ] || fail "$dir is still there after uninstalling: $(ls -A "$dir" | tr '\n' ' ')"
  for s in "${shortcuts[@]}"; do
    [ ! -e "${menu[$mode]}/${s%%:*}.lnk" ] || fail "the shortcut ${s%%:*} is still there after uninstalling"
  done
  [ -z "$(reg_value "$h" DisplayName)" ] || fail "still registered in Apps & features after uninstalling"
  diff -r "$saved" "$data" >/dev/null || fail "uninstalling ($mode) changed Documents\\ピョコラン"
  rm -rf "$saved" "$data"
done

echo "== the portable zip"
top="pyokoran-$version"
expected=$( { printf '%s\n' "$top/" "$top/pyokoran.exe" "$top/readme.txt" "$top/guide.html" \
                "$top/guide.en.html" "$top/stim/"
              for f in "$source"/stim/*; do echo "$top/stim/$(basename "$f")"; done; } | sort)
listing=$(unzip -Z1 "$zipfile" | sort)
[ "$listing" = "$expected" ] || fail "the zip holds"$'\n'"$listing"$'\n'"instead of"$'\n'"$expected"
unzip -p "$zipfile" "$top/pyokoran.exe" | cmp -s - "$build/pyokoran.exe" ||
  fail "the zip's pyokoran.exe differs from $build/pyokoran.exe (run scripts/package-windows)"
for g in guide.html guide.en.html; do
  unzip -p "$zipfile" "$top/$g" | cmp -s - "$build/$g" || fail "the zip's $g differs from $build/$g"
done
readme=$(unzip -p "$zipfile" "$top/readme.txt")
[[ "$readme" == $'\xef\xbb\xbf'* ]] || fail "readme.txt lacks the UTF-8 byte order mark"
[ -z "$(printf '%s\n' "$readme" | grep -v $'\r$')" ] || fail "readme.txt has lines without CR LF"
[[ "$readme" == *"[日本語]"*"[English]"* && "$readme" == *"$version"* ]] ||
  fail "readme.txt lacks a language or the version"

if ((failures)); then echo "$failures check(s) failed"; exit 1; fi
echo "installer and zip: all checks passed"
