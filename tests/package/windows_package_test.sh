#!/usr/bin/env bash
# Makes the Windows ZIP and installer from BUILD_DIR (cpack), checks what the
# ZIP holds, and tests the installer under Wine, in the build's Wine prefix:
# a silent install into fake Shotcut and Kdenlive folders (with a space in
# their path, and with another plug-in and filter of Shotcut's own) puts
# every file where the editors read it, the DLLs equal to the ZIP's and the
# uninstaller registered; a silent uninstall then leaves the prefix's files
# as they were before, the editors' own files included, and the registry
# without our key. scripts/test.sh windows runs it through ctest.
set -euo pipefail
build_dir=$1
wine=$build_dir/wine-run.sh
work=$(mktemp -d)
drive=${WINEPREFIX:-$build_dir/wine}/drive_c
fake="$drive/fake editors"
cleanup() { rm -rf "$work" "$fake" "$drive/effects-setup.exe" "$drive/effects-setup.bat"; }
trap cleanup EXIT
status=0
fail() { echo "FAIL: $*"; status=1; }

(cd "$work" && cpack --config "$build_dir/CPackConfig.cmake" >/dev/null)
zip=$(ls "$work"/*-win64.zip)
setup=$(ls "$work"/*-win64-setup.exe)
echo "made $(basename "$zip") and $(basename "$setup")"

plugins=()
for dll in "$build_dir"/plugins/*.dll; do plugins+=("$(basename "$dll" .dll)"); done
[ ${#plugins[@]} -eq 4 ] || fail "expected 4 plug-ins, built ${#plugins[@]}"

# The ZIP: one top folder holding the DLLs, the filter folders, the
# descriptors and their presets and the install text, and nothing else.
mkdir "$work/zip"
python3 -m zipfile -e "$zip" "$work/zip"
top=$(ls "$work/zip")
expected=("$top/INSTALL.txt")
for p in "${plugins[@]}"; do
  cmp -s "$build_dir/plugins/$p.dll" "$work/zip/$top/lib/frei0r-1/$p.dll" \
    || fail "the ZIP's $p.dll is not the one the tests ran"
  expected+=("$top/lib/frei0r-1/$p.dll" "$top/kdenlive/effects/frei0r_$p.xml"
             "$top/kdenlive/effects/presets/frei0r.$p.json")
  for f in meta.qml ui.qml icon.png; do expected+=("$top/share/shotcut/qml/filters/$p/$f"); done
done
diff <(printf '%s\n' "${expected[@]}" | sort) <(cd "$work/zip" && find . -type f | sed 's|^\./||' | sort) \
  || fail "the ZIP holds other files than expected"

# The fake editors: Shotcut's folder already has a plug-in and a filter of its
# own; Kdenlive's has no lib folder yet.
mkdir -p "$fake/Shotcut/lib/frei0r-1" "$fake/Shotcut/share/shotcut/qml/filters/theirs" \
  "$fake/kdenlive/bin"
touch "$fake/Shotcut/shotcut.exe" "$fake/Shotcut/lib/frei0r-1/theirs.dll" \
  "$fake/Shotcut/share/shotcut/qml/filters/theirs/meta.qml" "$fake/kdenlive/bin/kdenlive.exe"

key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\frei0r-effects-four'
# Not compared: Windows' own folder, and the temporary folder, where the
# uninstaller leaves the copy of itself it ran from for Windows to delete at
# the next restart (NSIS's way of removing the uninstaller itself).
files_now() { find "$drive" -path "$drive/windows" -prune -o -path "$drive/users/*/Temp" -prune \
  -o -print | sort; }
before=$(files_now)
"$wine" reg query "$key" /reg:64 >/dev/null 2>&1 && fail "our uninstall key exists before installing"

# From a batch file, as an administrator would (Wine would quote each option
# as a whole): the folders in quotes, as they have spaces. A batch file
# waits for the installer; should it not, the uninstaller is waited for.
cp "$setup" "$drive/effects-setup.exe"
printf 'C:\\effects-setup.exe /S /SHOTCUT="C:\\fake editors\\Shotcut" %s\r\n' \
  '/KDENLIVE="C:\fake editors\kdenlive"' >"$drive/effects-setup.bat"
"$wine" cmd /c 'C:\effects-setup.bat' >/dev/null || fail "the installer failed"
uninstaller="$drive/Program Files/frei0r-effects-four/uninstall.exe"
for _ in $(seq 60); do
  [ -e "$uninstaller" ] && break
  sleep 1
done
rm "$drive/effects-setup.exe" "$drive/effects-setup.bat"

user_filters=$(find "$drive/users" -path '*/AppData/Local/Meltytech/Shotcut/extensions/filters' -type d)
[ -n "$user_filters" ] || fail "no filters under %LOCALAPPDATA%"
for p in "${plugins[@]}"; do
  for dir in "$fake/Shotcut" "$fake/kdenlive"; do
    cmp -s "$dir/lib/frei0r-1/$p.dll" "$work/zip/$top/lib/frei0r-1/$p.dll" \
      || fail "${dir#$drive/}/lib/frei0r-1/$p.dll is not the ZIP's"
  done
  for f in meta.qml ui.qml icon.png; do
    cmp -s "$fake/Shotcut/share/shotcut/qml/filters/$p/$f" "$work/zip/$top/share/shotcut/qml/filters/$p/$f" \
      || fail "Shotcut's filters lack $p/$f"
    cmp -s "$user_filters/$p/$f" "$work/zip/$top/share/shotcut/qml/filters/$p/$f" \
      || fail "%LOCALAPPDATA%'s filters lack $p/$f"
  done
  cmp -s "$drive/ProgramData/kdenlive/effects/frei0r_$p.xml" "$work/zip/$top/kdenlive/effects/frei0r_$p.xml" \
    || fail "C:\\ProgramData\\kdenlive\\effects lacks frei0r_$p.xml"
  # Kdenlive keeps a user's own presets of an effect in the same file as
  # ours: the installer leaves them to the user.
  [ -z "$(find "$drive" -name "frei0r.$p.json")" ] || fail "the installer put Kdenlive presets"
done
[ -f "$uninstaller" ] || fail "no uninstaller"
"$wine" reg query "$key" /v UninstallString /reg:64 2>/dev/null | grep -q 'uninstall.exe' \
  || fail "the uninstaller is not registered"
installed=$(comm -13 <(echo "$before") <(files_now) | wc -l)
echo "installed $installed files and folders"

"$wine" "C:\\Program Files\\frei0r-effects-four\\uninstall.exe" /S || fail "the uninstaller failed"
# It runs on from a copy of itself, which removes the original at the end.
for _ in $(seq 60); do
  [ -e "$uninstaller" ] || break
  sleep 1
done
after=$(files_now)
if [ "$before" != "$after" ]; then
  fail "the uninstall left the files changed:"
  diff <(echo "$before") <(echo "$after") || true
fi
"$wine" reg query "$key" /reg:64 >/dev/null 2>&1 && fail "our uninstall key is still there"
[ $status -eq 0 ] && echo "installed and uninstalled cleanly"
exit $status
