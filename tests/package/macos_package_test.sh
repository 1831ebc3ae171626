#!/usr/bin/env bash
# The macOS ZIP and its install-macos.sh, on a made-up Mac:
#
#   macos_package_test.sh BUILD_DIR      (made by scripts/macos-build.sh)
#
# The ZIP must hold the universal libraries, the filter folders, the
# descriptors and presets, INSTALL.txt and an executable install-macos.sh,
# and nothing else. The home holds ~/Applications/Shotcut.app (version 25.10,
# with a plug-in of its own and an older vestrale.so of ours, signed with
# library validation turned off) and, elsewhere, a Kdenlive.app with no
# PlugIns folder whose hardened runtime validates libraries, and Kdenlive
# presets of the user's own for Orrelind. Stand-ins for `codesign` and
# `xattr` on PATH record every call; the codesign stand-in "signs" by
# appending a line to the library, as a real signature changes the file.
#
# After installing, each app's Contents/PlugIns/frei0r-1 must hold the four
# libraries from the ZIP, each signed once after it was copied; every file
# put must have had its quarantine attribute removed, and no other file; the
# filter folders, descriptors and presets must be in the per-user folders,
# the user's presets file untouched; the output must name Kdenlive's library
# validation, Shotcut 25.10's own filter folders and that an app update
# removes the plug-ins. Installing twice changes nothing; --uninstall must
# leave the home and both apps exactly as they were (names, modes, bytes).
# Then Shotcut named by a relative path, Kdenlive "updated" after installing
# (its plug-ins gone) and a filter file changed by hand: --uninstall, run
# from another folder, takes the rest and leaves that file.
set -euo pipefail
build_dir=$(cd "$1" && pwd)
. "$(dirname "$0")/../support/checks.sh"
plugins=(vestrale kestrune bramquil Orrelind)
same() { cmp -s "$1" "$2"; }

# ---- the ZIP
zip=$(ls "$build_dir"/frei0r-effects-four-*-macos.zip)
unzip -q "$zip" -d "$work/zip"
top=$(ls "$work/zip")
pkg=$work/zip/$top
expected=("$top/INSTALL.txt" "$top/install-macos.sh")
for p in "${plugins[@]}"; do
  check "the ZIP's $p.so is the build's" same "$build_dir/lib/frei0r-1/$p.so" "$pkg/lib/frei0r-1/$p.so"
  check "the ZIP's $p.dylib is its $p.so" same "$pkg/lib/frei0r-1/$p.so" "$pkg/lib/frei0r-1/$p.dylib"
  expected+=("$top/lib/frei0r-1/$p.so" "$top/lib/frei0r-1/$p.dylib"
             "$top/kdenlive/effects/frei0r_$p.xml" "$top/kdenlive/effects/presets/frei0r.$p.json")
  for f in meta.qml ui.qml icon.png; do expected+=("$top/share/shotcut/qml/filters/$p/$f"); done
done
check "the ZIP holds what it should and nothing else" \
  diff <(printf '%s\n' "${expected[@]}" | sort) <(cd "$work/zip" && find . -type f | sed 's|^\./||' | sort)
check "install-macos.sh is executable as unpacked" test -x "$pkg/install-macos.sh"
check "INSTALL.txt has its version" grep -q "effects [0-9][0-9.]* for macOS" "$pkg/INSTALL.txt"

# ---- the Mac as found
export HOME=$work/home
support="$HOME/Library/Application Support"
shotcut=$HOME/Applications/Shotcut.app
kdenlive="$work/Other Apps/Kdenlive.app"
mkdir -p "$shotcut/Contents/MacOS" "$shotcut/Contents/PlugIns/frei0r-1" \
  "$kdenlive/Contents/MacOS" "$support/kdenlive/effects/presets"
printf 'app' >"$shotcut/Contents/MacOS/Shotcut"
printf 'app' >"$kdenlive/Contents/MacOS/kdenlive"
chmod 755 "$shotcut/Contents/MacOS/Shotcut" "$kdenlive/Contents/MacOS/kdenlive"
printf 'theirs' >"$shotcut/Contents/PlugIns/frei0r-1/theirs.so"
printf 'our older vestrale' >"$shotcut/Contents/PlugIns/frei0r-1/vestrale.so"
cat >"$shotcut/Contents/Info.plist" <<'EOF'
<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0">
<dict>
	<key>CFBundleExecutable</key>
	<string>Shotcut</string>
	<key>CFBundleShortVersionString</key>
	<string>25.10.31</string>
</dict>
</plist>
EOF
# What the codesign stand-in shows of each app's signature.
printf 'flags=0x10000(runtime)\n' >"$shotcut/Contents/fake-signature"
printf '<key>com.apple.security.cs.disable-library-validation</key><true/>\n' \
  >"$shotcut/Contents/fake-entitlements"
printf 'flags=0x10000(runtime)\n' >"$kdenlive/Contents/fake-signature"
printf '[{"Mine": [{"name": "Whirl", "value": "0=0.5"}]}]\n' \
  >"$support/kdenlive/effects/presets/frei0r.Orrelind.json"

mkdir "$work/bin"
cat >"$work/bin/codesign" <<'EOF'
#!/bin/sh
printf '%s\n' "$*" >>"$FAKE_MAC_LOG"
case "$1" in
  --force)  # --force --sign - FILE
    [ "$2 $3" = "--sign -" ] && [ $# -eq 4 ] || { echo "codesign: unexpected call" >&2; exit 1; }
    printf '\nsigned ad hoc\n' >>"$4" ;;
  -d)  # -d -v APP, or -d --entitlements - APP
    eval "app=\${$#}"
    if [ "$2" = -v ]; then cat "$app/Contents/fake-signature" >&2
    else cat "$app/Contents/fake-entitlements" 2>/dev/null || true; fi ;;
  *) echo "codesign: unexpected call" >&2; exit 1 ;;
esac
EOF
cat >"$work/bin/xattr" <<'EOF'
#!/bin/sh
printf 'xattr %s\n' "$*" >>"$FAKE_MAC_LOG"
[ "$1 $2" = "-d com.apple.quarantine" ] && [ $# -eq 3 ] && [ -e "$3" ] ||
  { echo "xattr: unexpected call" >&2; exit 1; }
exit 1  # as the real one says when the attribute is not there
EOF
chmod +x "$work/bin/codesign" "$work/bin/xattr"
export PATH=$work/bin:$PATH FAKE_MAC_LOG=$work/mac.log
: >"$FAKE_MAC_LOG"

snapshot() {  # every name, type and mode under the home and the other app, and every file's bytes
  local root
  for root in "$HOME" "$work/Other Apps"; do
    (cd "$root" && find . -printf '%y %m %p\n' | LC_ALL=C sort &&
      find . -type f -exec sha256sum {} + | LC_ALL=C sort -k2)
  done
}
snapshot >"$work/before"

# ---- install
run() { (cd "$work" && "$pkg/install-macos.sh" "$@"); }
run --kdenlive "$kdenlive" >"$work/out" 2>&1 || { cat "$work/out"; echo "FAILED: install"; exit 1; }
cat "$work/out"

signed() {  # FILE ZIP_FILE: the ZIP's bytes, signed once
  cat "$2" - <<<$'\nsigned ad hoc' | cmp -s - "$1"
}
put_files=()
for p in "${plugins[@]}"; do
  for app in "$shotcut" "$kdenlive"; do
    to=$app/Contents/PlugIns/frei0r-1/$p.so
    check "$to, signed after the copy" signed "$to" "$pkg/lib/frei0r-1/$p.so"
    check "$to signed once" test "$(grep -cxF -- "--force --sign - $to" "$FAKE_MAC_LOG")" -eq 1
    put_files+=("$to")
  done
  for f in meta.qml ui.qml icon.png; do
    to="$support/Meltytech/Shotcut/extensions/filters/$p/$f"
    check "$to" same "$pkg/share/shotcut/qml/filters/$p/$f" "$to"
    put_files+=("$to")
  done
  to="$support/kdenlive/effects/frei0r_$p.xml"
  check "$to" same "$pkg/kdenlive/effects/frei0r_$p.xml" "$to"
  put_files+=("$to")
  if [ "$p" != Orrelind ]; then
    to="$support/kdenlive/effects/presets/frei0r.$p.json"
    check "$to" same "$pkg/kdenlive/effects/presets/frei0r.$p.json" "$to"
    put_files+=("$to")
  fi
done
check "quarantine removed from each file put, and from no other" diff \
  <(printf 'xattr -d com.apple.quarantine %s\n' "${put_files[@]}" | sort) \
  <(grep '^xattr ' "$FAKE_MAC_LOG" | sort)
check "nothing but the libraries signed" test "$(grep -c -- '^--force' "$FAKE_MAC_LOG")" -eq 8
check "the user's presets untouched" grep -qxF '[{"Mine": [{"name": "Whirl", "value": "0=0.5"}]}]' \
  "$support/kdenlive/effects/presets/frei0r.Orrelind.json"
check "the user's presets named as kept" grep -q 'kept your .*frei0r.Orrelind.json' "$work/out"
check "Shotcut's own plug-in untouched" grep -qx theirs "$shotcut/Contents/PlugIns/frei0r-1/theirs.so"
check "Kdenlive's library validation named" grep -q "Kdenlive's signature requires" "$work/out"
check "Shotcut's not (it turns validation off)" bash -c "! grep -q \"Shotcut's signature\" '$work/out'"
check "Shotcut 25.10's filter folders named" grep -q 'Shotcut 25.10.31 reads filter folders only' "$work/out"
check "an app update named" grep -q 'update of Shotcut or Kdenlive replaces the app' "$work/out"
check "27 files placed" grep -q '^done: 27 files placed' "$work/out"

# ---- again, then away
snapshot >"$work/installed"
run --kdenlive "$kdenlive" >/dev/null
snapshot >"$work/again"
check "installing twice gives the same Mac" diff -u "$work/installed" "$work/again"
run --uninstall
snapshot >"$work/after"
check "--uninstall leaves the home and the apps as they were" diff -u "$work/before" "$work/after"
check "uninstalling twice is harmless" run --uninstall

# ---- an app named by a relative path, an app updated since, and a filter
# file changed by hand; --uninstall from another folder
run --shotcut home/Applications/Shotcut.app --kdenlive "$kdenlive" >/dev/null
rm -rf "$kdenlive/Contents/PlugIns"
changed="$support/Meltytech/Shotcut/extensions/filters/kestrune/ui.qml"
printf '// mine\n' >>"$changed"
(cd / && "$pkg/install-macos.sh" --uninstall) >"$work/out"
check "the updated app's plug-ins counted as gone" grep -q '4 were gone already' "$work/out"
check "the changed file left" grep -q 'left .*kestrune/ui.qml (changed since)' "$work/out"
check "the changed file kept" grep -q '// mine' "$changed"
check "the rest removed" test ! -e "$shotcut/Contents/PlugIns/frei0r-1/kestrune.so" -a \
  ! -e "$support/kdenlive/effects/frei0r_kestrune.xml"
check "the older vestrale.so back" grep -qx 'our older vestrale' \
  "$shotcut/Contents/PlugIns/frei0r-1/vestrale.so"

# ---- no app to be found
rm -rf "$shotcut"
check "no app found is an error" bash -c "! (cd '$work' && '$pkg/install-macos.sh') >'$work/out' 2>&1"
check "  that says what to do" grep -q 'name them with --shotcut' "$work/out"

checks_done
