#!/bin/bash
# Installs the four effects for Shotcut and Kdenlive on macOS, from the
# folder this script is in (the unpacked ZIP), and says what it did:
#
#   APP/Contents/PlugIns/frei0r-1/NAME.so   the plug-ins, inside each app:
#                                           its MLT reads plug-ins only there
#   ~/Library/Application Support/Meltytech/Shotcut/extensions/filters/NAME/
#                                           Shotcut's filter folders (26.6
#                                           and later read them there)
#   ~/Library/Application Support/kdenlive/effects/frei0r_NAME.xml
#                                           Kdenlive's descriptors, and in
#                                           presets/ its presets of each
#                                           effect, unless a file of that name
#                                           is there (it holds presets you
#                                           saved: Kdenlive keeps all of an
#                                           effect's presets in one file)
#
#   ./install-macos.sh [--shotcut APP] [--kdenlive APP]   install (again)
#   ./install-macos.sh --uninstall                        remove exactly what it put
#
# Without --shotcut or --kdenlive it looks for Shotcut.app and Kdenlive.app
# in /Applications and ~/Applications. Each library put inside an app is
# signed ad hoc (arm64 code must be signed to run) and every file put loses
# the quarantine attribute a download gives it. A file of the same name that
# was there is kept aside and put back by --uninstall; a file changed since
# is left alone. What was done is written to
# ~/Library/Application Support/frei0r-effects-four/installed.
#
# An update of Shotcut or Kdenlive replaces the app, and with it the
# plug-ins inside: run this script again after updating.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
plugins="vestrale kestrune bramquil Orrelind"
support=$HOME/Library/Application\ Support
state=$support/frei0r-effects-four
manifest=$state/installed
shotcut_filters=$support/Meltytech/Shotcut/extensions/filters
kdenlive_effects=$support/kdenlive/effects

usage() { sed -n '2,/^set -eu/p' "$0" | sed '$d; s/^# \{0,1\}//'; }

mode=install
shotcut=
kdenlive=
while [ $# -gt 0 ]; do
  case "$1" in
    --uninstall) mode=uninstall ;;
    --shotcut) shotcut=${2:?--shotcut needs the path of Shotcut.app}; shift ;;
    --kdenlive) kdenlive=${2:?--kdenlive needs the path of Kdenlive.app}; shift ;;
    -h|--help) usage; exit 0 ;;
    *) echo "unknown option $1 (see --help)" >&2; exit 2 ;;
  esac
  shift
done

# shellcheck disable=SC2088  # a tilde shown, not expanded
home_path() { case "$1" in "$HOME"/*) echo "~/${1#"$HOME"/}" ;; *) echo "$1" ;; esac; }
sha() {
  if command -v shasum >/dev/null; then shasum -a 256 "$1" | cut -d' ' -f1
  else sha256sum "$1" | cut -d' ' -f1; fi
}
# A line of the manifest; held back while the folder it goes in is still
# being made.
pending=
note() {
  pending="$pending$(printf '%s\t%s\t%s\t%s' "$1" "$2" "${3:--}" "${4:--}")"$'\n'
  if [ -d "$state" ]; then
    printf '%s' "$pending" >>"$manifest"
    pending=
  fi
}

# Creates a folder and its missing parents, noting each one created.
make_dir() {
  local dir=$1 missing=
  while [ ! -d "$dir" ]; do
    missing="$dir"$'\n'"$missing"
    dir=$(dirname "$dir")
  done
  while IFS= read -r dir; do
    [ -n "$dir" ] || continue
    mkdir "$dir" || fail "cannot make $(home_path "$dir")"
    note dir "$dir"
  done <<EOF
$missing
EOF
}

fail() {
  echo "install-macos.sh: $*" >&2
  exit 1
}

# put SOURCE DEST [KIND]: a copy, unless an identical file is there already;
# a different file in the way is kept aside. KIND library: signed ad hoc.
put() {
  local from=$1 to=$2 kind=${3:-file} kept=-
  make_dir "$(dirname "$to")"
  if [ -e "$to" ] && cmp -s "$from" "$to"; then return 0; fi
  if [ -e "$to" ]; then
    kept=$state/kept/${to#/}
    mkdir -p "$(dirname "$kept")"
    cp -p "$to" "$kept"
  fi
  if ! cp "$from" "$to"; then
    case $to in
      */Contents/PlugIns/*)
        echo "macOS refused the copy into ${to%%/Contents/*}." >&2
        echo "On macOS 13 and later, allow the Terminal to change apps (System Settings >" >&2
        echo "Privacy & Security > App Management) and run this script again." >&2
        ;;
    esac
    fail "cannot copy $(home_path "$to")"
  fi
  xattr -d com.apple.quarantine "$to" 2>/dev/null || true
  if [ "$kind" = library ]; then
    codesign --force --sign - "$to" >/dev/null 2>&1 || fail "cannot sign $to"
  fi
  note file "$to" "$(sha "$to")" "$kept"
  placed=$((placed + 1))
}

# The first app of these names in /Applications or ~/Applications.
find_app() {
  local name root
  for root in /Applications "$HOME/Applications"; do
    for name in "$@"; do
      [ -d "$root/$name/Contents/MacOS" ] && { echo "$root/$name"; return 0; }
    done
  done
  return 0
}

# The app's absolute path, so that --uninstall finds it from anywhere.
app_path() {  # PATH
  [ -d "$1/Contents/MacOS" ] || fail "$1 is not an app (no Contents/MacOS)"
  (cd "$1" && pwd)
}

# CFBundleShortVersionString of an app whose Info.plist is XML; nothing else.
app_version() {
  [ -f "$1/Contents/Info.plist" ] || return 0
  sed -n '/<key>CFBundleShortVersionString<\/key>/{n;s/.*<string>\([0-9.]*\)<\/string>.*/\1/p;}' \
    "$1/Contents/Info.plist" | head -1
}

# An app signed with the hardened runtime loads a library that its maker did
# not sign only if an entitlement turns library validation off.
check_library_validation() {  # APP NAME
  local details entitlements
  details=$(codesign -d -v "$1" 2>&1 || true)
  case $details in *"(runtime)"*) ;; *) return 0 ;; esac
  entitlements=$(codesign -d --entitlements - "$1" 2>/dev/null || true)
  case $entitlements in *com.apple.security.cs.disable-library-validation*) return 0 ;; esac
  echo "  note: $2's signature requires the libraries it loads to be signed by its maker;"
  echo "        it may refuse these plug-ins (Console.app then names the library)."
}

install_into_app() {  # APP NAME
  local p
  for p in $plugins; do
    put "$here/lib/frei0r-1/$p.so" "$1/Contents/PlugIns/frei0r-1/$p.so" library
  done
  echo "  $2: plug-ins in $(home_path "$1")/Contents/PlugIns/frei0r-1/ (signed ad hoc)"
  check_library_validation "$1" "$2"
}

install() {
  local p f version major minor
  [ -z "$shotcut" ] && shotcut=$(find_app Shotcut.app)
  [ -z "$kdenlive" ] && kdenlive=$(find_app Kdenlive.app kdenlive.app)
  [ -n "$shotcut" ] || [ -n "$kdenlive" ] ||
    fail "found neither Shotcut.app nor Kdenlive.app in /Applications or ~/Applications; name them with --shotcut APP or --kdenlive APP"
  [ -z "$shotcut" ] || shotcut=$(app_path "$shotcut")
  [ -z "$kdenlive" ] || kdenlive=$(app_path "$kdenlive")
  for p in $plugins; do
    [ -f "$here/lib/frei0r-1/$p.so" ] || fail "no lib/frei0r-1/$p.so beside this script"
  done
  if [ -e "$manifest" ]; then
    echo "replacing the earlier installation"
    uninstall >/dev/null
  fi
  placed=0
  make_dir "$state"
  : >>"$manifest"
  echo "installing for $(id -un):"

  if [ -n "$shotcut" ]; then
    install_into_app "$shotcut" Shotcut
    for p in $plugins; do
      for f in "$here/share/shotcut/qml/filters/$p"/*; do
        put "$f" "$shotcut_filters/$p/$(basename "$f")"
      done
    done
    echo "  Shotcut: filter folders in $(home_path "$shotcut_filters")/"
    version=$(app_version "$shotcut")
    if [ -n "$version" ]; then
      major=${version%%.*}
      minor=${version#*.}
      minor=${minor%%.*}
      if [ "$major" -lt 26 ] || { [ "$major" -eq 26 ] && [ "${minor:-0}" -lt 6 ]; }; then
        echo "  note: Shotcut $version reads filter folders only from its own app; Shotcut 26.6"
        echo "        and later read them from the folder above and list the four effects."
      fi
    fi
  fi
  if [ -n "$kdenlive" ]; then
    install_into_app "$kdenlive" Kdenlive
    for p in $plugins; do
      put "$here/kdenlive/effects/frei0r_$p.xml" "$kdenlive_effects/frei0r_$p.xml"
      f=$kdenlive_effects/presets/frei0r.$p.json
      if [ -e "$f" ] && ! cmp -s "$here/kdenlive/effects/presets/frei0r.$p.json" "$f"; then
        echo "  Kdenlive: kept your $(home_path "$f") (our presets are in the ZIP's kdenlive/effects/presets)"
      else
        put "$here/kdenlive/effects/presets/frei0r.$p.json" "$f"
      fi
    done
    echo "  Kdenlive: descriptors in $(home_path "$kdenlive_effects")/, presets in presets/"
  fi
  echo "done: $placed files placed; ./install-macos.sh --uninstall removes them."
  echo "An update of Shotcut or Kdenlive replaces the app and removes the plug-ins from it:"
  echo "run this script again after updating."
}

uninstall() {
  if [ ! -e "$manifest" ]; then
    echo "nothing installed by this script for $(id -un) ($(home_path "$manifest") is missing)"
    return 0
  fi
  local kind path sum kept removed=0 left=0 gone=0 dirs=
  # Newest first: files before the folders made for them.
  while IFS=$'\t' read -r kind path sum kept; do
    case $kind in
      dir) dirs="$dirs$path"$'\n' ;;
      file)
        if [ ! -e "$path" ]; then
          gone=$((gone + 1))
          continue
        fi
        if [ "$(sha "$path")" != "$sum" ]; then
          echo "left $(home_path "$path") (changed since)"
          left=$((left + 1))
          continue
        fi
        rm "$path"
        removed=$((removed + 1))
        if [ "$kept" != - ]; then cp -p "$kept" "$path"; fi
        ;;
    esac
  done <<EOF
$(awk '{ line[NR] = $0 } END { for (i = NR; i > 0; i--) print line[i] }' "$manifest")
EOF
  rm -rf "$state/kept" "$manifest"
  while IFS= read -r path; do
    [ -n "$path" ] && rmdir "$path" 2>/dev/null || true
  done <<EOF
$dirs
EOF
  echo "removed $removed files$([ "$left" -eq 0 ] || echo ", left $left changed since")$(
    [ "$gone" -eq 0 ] || echo "; $gone were gone already (an app updated since?)")"
}

"$mode"
