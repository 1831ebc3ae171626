#!/usr/bin/env bash
# Installs the four effects for the current user, without root, wherever the
# editors on this machine look, and says what it did:
#
#   ~/.frei0r-1/lib/                      the plug-ins: found by ffmpeg, MLT
#                                         (melt, Kdenlive, Shotcut) and
#                                         GStreamer without any setting
#   ~/.local/share/kdenlive/effects/      Kdenlive's descriptors, and its
#                                         presets in presets/ (merged into the
#                                         user's own presets of our effects)
#   ~/.local/share/Meltytech/Shotcut/extensions/filters/
#                                         Shotcut's filter folders (26.6 and
#                                         later; 22.12 reads only its prefix)
#   ~/.var/app/APP/data/...               the same for each Flatpak editor
#                                         installed (org.kde.kdenlive,
#                                         org.shotcut.Shotcut), with a user
#                                         override of FREI0R_PATH that keeps
#                                         the Flatpak's own plug-ins first
#
#   scripts/install-user.sh [--plugins DIR] [--into BUNDLE]...
#                                             install (again)
#   scripts/install-user.sh --uninstall       remove exactly what it put
#
# --into BUNDLE also installs into a portable editor folder, for the editors
# that look nowhere else: Shotcut's tarball folder (Shotcut.app) or an
# AppImage's extracted tree (squashfs-root, from --appimage-extract), of
# Shotcut or Kdenlive. Their launchers point FREI0R_PATH at the bundle's own
# plug-ins (Kdenlive's ignores it and reads only those), so ~/.frei0r-1/lib
# is not seen: the plug-ins go into the bundle's lib/frei0r-1 and Shotcut's
# filter folders into its share/shotcut/qml/filters. Updating or extracting
# the bundle anew removes them; install again after that.
#
# Without --plugins it builds the plug-ins first (cmake, in build/user; a
# no-op when they are up to date). Files of the same name that were there
# before are kept aside and put back by --uninstall; a file changed since
# (a preset saved in Kdenlive, say) is left alone. What was done is written
# to ~/.local/share/frei0r-effects-four/installed. Needs bash, coreutils and
# python3 (for Kdenlive's presets files); no root.
. "$(dirname "$0")/common.sh"
# Folders given are taken from where it was started.
cd "$EFFECTS_CALLER_DIR"
src=$EFFECTS_ROOT
plugins=("${EFFECTS_PLUGIN_NAMES[@]}")
flatpak_apps=(org.kde.kdenlive org.shotcut.Shotcut)
data=${XDG_DATA_HOME:-$HOME/.local/share}
state=$data/frei0r-effects-four
manifest=$state/installed
# What the Flatpaks set FREI0R_PATH to: their bundled plug-ins.
flatpak_bundled=/app/lib/frei0r-1
# Where Flatpak keeps the apps installed for this user and for all (flatpak
# itself reads the same two variables).
flatpak_user=${FLATPAK_USER_DIR:-$data/flatpak}
flatpak_system=${FLATPAK_SYSTEM_DIR:-/var/lib/flatpak}

usage() { sed -n '2,/^[^#]/p' "$0" | sed '$d; s/^# \{0,1\}//'; }

mode=install
plugin_dir=
bundles=()
while [ $# -gt 0 ]; do
  case "$1" in
    --uninstall) mode=uninstall ;;
    --plugins) plugin_dir=${2:?--plugins needs a folder}; shift ;;
    --into) bundles+=("${2:?--into needs an editor folder}"); shift ;;
    -h|--help) usage; exit 0 ;;
    *) echo "unknown option $1 (see --help)" >&2; exit 2 ;;
  esac
  shift
done
command -v python3 >/dev/null || { echo "python3 is needed (Kdenlive's presets)" >&2; exit 1; }

# shellcheck disable=SC2088  # a tilde shown, not expanded
home_path() { case "$1" in "$HOME"/*) echo "~/${1#"$HOME"/}" ;; *) echo "$1" ;; esac; }
sha() { sha256sum "$1" | cut -d' ' -f1; }
note() { printf '%s\n' "$(IFS=$'\t'; echo "$*")" >>"$manifest"; }

# Creates a folder and its missing parents, noting each one created.
make_dir() {
  local dir=$1 missing=()
  while [ ! -d "$dir" ]; do missing=("$dir" "${missing[@]}"); dir=$(dirname "$dir"); done
  for dir in "${missing[@]}"; do
    mkdir "$dir"
    if [ -e "$manifest" ]; then note dir "$dir"; else pending_dirs+=("$dir"); fi
  done
}

# Keeps a file that is in the way, to be put back on uninstalling.
keep_aside() {
  local path=$1 kept=$state/kept/${1#/}
  mkdir -p "$(dirname "$kept")"
  cp -p "$path" "$kept"
  echo "$kept"
}

# put SOURCE DEST: a copy, unless an identical file is there already.
put() {
  local from=$1 to=$2 kept=-
  make_dir "$(dirname "$to")"
  if [ -e "$to" ] && cmp -s "$from" "$to"; then return; fi
  [ -e "$to" ] && kept=$(keep_aside "$to")
  cp "$from" "$to"
  note file "$to" "$(sha "$to")" "$kept"
}

# Kdenlive keeps every preset of an effect, the user's own too, in one file:
# ours are added to it (not over a preset of the same name).
merge_presets() {
  local from=$1 to=$2 kept=-
  make_dir "$(dirname "$to")"
  [ -e "$to" ] && kept=$(keep_aside "$to")
  python3 - "$from" "$to" <<'EOF'
import json, os, sys
ours, path = sys.argv[1:]
entries = json.load(open(path)) if os.path.exists(path) else []
names = {name for entry in entries for name in entry}
entries += [e for e in json.load(open(ours)) if not names & set(e)]
with open(path, "w") as out:
    json.dump(entries, out, indent=4, ensure_ascii=False)
    out.write("\n")
EOF
  note presets "$to" "$(sha "$to")" "$kept" "$from"
}

# The FREI0R_PATH of the user's override of a Flatpak app ("" for none).
override_path() {
  flatpak override --user --show "$1" 2>/dev/null |
    sed -n '/^\[Environment\]/,/^\[/s/^FREI0R_PATH=//p'
}

install_kdenlive() {  # DATA_FOLDER INDENT
  local dir=$1/kdenlive/effects p
  for p in "${plugins[@]}"; do
    put "$src/editors/kdenlive/frei0r_$p.xml" "$dir/frei0r_$p.xml"
    merge_presets "$src/editors/kdenlive/presets/frei0r.$p.json" "$dir/presets/frei0r.$p.json"
  done
  echo "$2Kdenlive: descriptors in $(home_path "$dir")/, presets in $(home_path "$dir")/presets/"
}

install_shotcut() {  # DATA_FOLDER INDENT
  local dir=$1/Meltytech/Shotcut/extensions/filters p f
  for p in "${plugins[@]}"; do
    for f in "$src/editors/shotcut/$p"/*; do put "$f" "$dir/$p/$(basename "$f")"; done
  done
  echo "$2Shotcut 26.6 and later: filter folders in $(home_path "$dir")/"
}

# The prefix of a portable editor folder: the folder above the one holding
# its own frei0r plug-ins, BUNDLE itself (Shotcut's tarball) or BUNDLE/usr (an
# extracted AppImage), looked for a little deeper too, so that the folder the
# tarball or --appimage-extract was run in will do.
bundle_prefix() {
  local found=() dir
  mapfile -t found < <(find "$1" -maxdepth 4 -type d -path '*/lib/frei0r-1' 2>/dev/null | sort)
  if [ ${#found[@]} -ne 1 ]; then
    if [ ${#found[@]} -eq 0 ]; then
      echo "no lib/frei0r-1 in $1: give Shotcut's folder (Shotcut.app) or an AppImage's" \
        "extracted tree (squashfs-root)" >&2
    else
      echo "more than one editor in $1 (${found[*]}): give one of them" >&2
    fi
    return 1
  fi
  dir=$(dirname "$(dirname "${found[0]}")")
  (cd "$dir" && pwd)
}

install_bundle() {  # PREFIX
  local prefix=$1 filters=$1/share/shotcut/qml/filters p f
  note bundle "$prefix"
  for p in "${plugins[@]}"; do put "$plugin_dir/$p.so" "$prefix/lib/frei0r-1/$p.so"; done
  echo "  $prefix: plug-ins in lib/frei0r-1/"
  if [ -d "$filters" ]; then
    for p in "${plugins[@]}"; do
      for f in "$src/editors/shotcut/$p"/*; do put "$f" "$filters/$p/$(basename "$f")"; done
    done
    echo "    Shotcut's filter folders in share/shotcut/qml/filters/"
  fi
  echo "    an update of this editor, or extracting it anew, removes them: install again then"
}

shotcut_version() {  # "22.12.22", or nothing when no Shotcut runs here
  command -v shotcut >/dev/null || return 0
  QT_QPA_PLATFORM=offscreen timeout 20 shotcut --version 2>/dev/null |
    sed -n 's/^Shotcut \([0-9][0-9.]*\).*/\1/p' | head -1 || true
}

install() {
  local dir p app old new
  if [ -z "$plugin_dir" ]; then
    echo "building the plug-ins (build/user)"
    (cd "$src" && cmake --preset user >/dev/null && cmake --build --preset user -j"$jobs" >/dev/null)
    plugin_dir=$src/build/user/plugins
  fi
  for p in "${plugins[@]}"; do
    [ -e "$plugin_dir/$p.so" ] || { echo "no $plugin_dir/$p.so" >&2; exit 1; }
  done
  # Every bundle is found before anything is written; those installed into
  # before are kept, where they still are.
  local prefixes=() bundle prefix
  if [ -e "$manifest" ]; then
    while IFS=$'\t' read -r _ prefix; do
      [ -d "$prefix/lib/frei0r-1" ] && bundles+=("$prefix")
    done < <(grep '^bundle' "$manifest" || true)
  fi
  for bundle in "${bundles[@]}"; do
    prefix=$(bundle_prefix "$bundle") || exit 1
    case " ${prefixes[*]} " in *" $prefix "*) ;; *) prefixes+=("$prefix") ;; esac
  done
  if [ -e "$manifest" ]; then
    echo "replacing the earlier installation"
    uninstall >/dev/null
  fi
  pending_dirs=()
  make_dir "$state"
  : >"$manifest"
  for dir in "${pending_dirs[@]}"; do note dir "$dir"; done
  echo "installing for $(id -un) in $HOME:"

  for p in "${plugins[@]}"; do put "$plugin_dir/$p.so" "$HOME/.frei0r-1/lib/$p.so"; done
  echo "  plug-ins: ~/.frei0r-1/lib/ (ffmpeg, melt, Kdenlive, Shotcut and GStreamer look there)"
  install_kdenlive "$data" "  "
  install_shotcut "$data" "  "
  local version
  version=$(shotcut_version)
  if [ -n "$version" ]; then
    IFS=. read -r major minor _ <<<"$version"
    if [ "$major" -lt 26 ] || { [ "$major" -eq 26 ] && [ "${minor:-0}" -lt 6 ]; }; then
      echo "  Shotcut $version (found here) reads filter folders only from its own prefix:"
      echo "    for it install the .deb (README, \"Install\"); it finds the plug-ins here already"
    fi
  fi

  for dir in "${prefixes[@]}"; do install_bundle "$dir"; done

  if command -v flatpak >/dev/null; then
    for app in "${flatpak_apps[@]}"; do
      # Asking flatpak itself would make its folders in a home without them.
      [ -d "$flatpak_user/app/$app" ] || [ -d "$flatpak_system/app/$app" ] || continue
      echo "  Flatpak $app:"
      case $app in
        org.kde.kdenlive) install_kdenlive "$HOME/.var/app/$app/data" "    " ;;
        org.shotcut.Shotcut) install_shotcut "$HOME/.var/app/$app/data" "    " ;;
      esac
      # The override replaces the app's own FREI0R_PATH: it must name the
      # bundled plug-ins as well as ours (and keep a path the user set).
      old=$(override_path "$app")
      new=${old:-$flatpak_bundled}
      case ":$new:" in *":$HOME/.frei0r-1/lib:"*) ;; *) new=$new:$HOME/.frei0r-1/lib ;; esac
      if [ "$new" != "$old" ]; then
        flatpak override --user --env=FREI0R_PATH="$new" "$app"
        note override "$app" "$new" "${old:--}"
      fi
      echo "    FREI0R_PATH=$new (flatpak override --user)"
    done
  fi
  placed=$(grep -c -e '^file' -e '^presets' "$manifest" || true)
  echo "done: $placed files placed; scripts/install-user.sh --uninstall removes them"
}

# flatpak's --unset-env would unset the app's own FREI0R_PATH as well: the
# line we added goes from the override file (a key file), and with it an
# [Environment] section that holds nothing else.
drop_override_line() {
  python3 - "$1" <<'EOF'
import sys
path = sys.argv[1]
section, out = "", []
for line in open(path).read().split("\n"):
    if line.startswith("["):
        section = line
    if section != "[Environment]" or not line.startswith("FREI0R_PATH="):
        out.append(line)
text = "\n".join(out)
text = text.replace("\n\n[Environment]\n\n", "\n\n").replace("\n\n[Environment]\n", "\n")
if text.startswith("[Environment]\n\n"):
    text = text[len("[Environment]\n\n"):]
open(path, "w").write(text)
EOF
}

uninstall() {
  if [ ! -e "$manifest" ]; then
    echo "nothing installed by this script for $(id -un) ($(home_path "$manifest") is missing)"
    return 0
  fi
  local lines=() line kind path sum kept from dirs=() left=0 removed=0 cur others
  mapfile -t lines < <(tac "$manifest")
  for line in "${lines[@]}"; do
    IFS=$'\t' read -r kind path sum kept from <<<"$line"
    case $kind in
      dir) dirs+=("$path") ;;
      file|presets)
        if [ ! -e "$path" ]; then continue; fi
        if [ "$(sha "$path")" != "$sum" ]; then
          if [ "$kind" = presets ]; then
            # Presets saved in Kdenlive since: only ours go.
            python3 - "$from" "$path" <<'EOF'
import json, sys
ours, path = sys.argv[1:]
mine = json.load(open(ours))
entries = [e for e in json.load(open(path)) if e not in mine]
with open(path, "w") as out:
    json.dump(entries, out, indent=4, ensure_ascii=False)
    out.write("\n")
EOF
            echo "kept $(home_path "$path") without our presets (changed since)"
          else
            echo "left $(home_path "$path") (changed since)"
          fi
          left=$((left + 1))
          continue
        fi
        rm "$path"
        removed=$((removed + 1))
        [ "$kept" = - ] || cp -p "$kept" "$path"
        ;;
      override)
        # path: the app, sum: the FREI0R_PATH we set, kept: the one before.
        cur=$(override_path "$path")
        if [ "$cur" != "$sum" ]; then
          echo "left the FREI0R_PATH override of $path (changed since)"
          left=$((left + 1))
        elif [ "$kept" != - ]; then
          flatpak override --user --env=FREI0R_PATH="$kept" "$path"
          echo "FREI0R_PATH override of $path: back to $kept"
        else
          others=$(flatpak override --user --show "$path" 2>/dev/null |
            grep -v -e '^\[Environment\]$' -e '^FREI0R_PATH=' -e '^$' || true)
          if [ -z "$others" ]; then
            flatpak override --user --reset "$path"
          else
            drop_override_line "$flatpak_user/overrides/$path"
          fi
          echo "FREI0R_PATH override of $path: removed"
        fi
        ;;
    esac
  done
  rm -rf "$state/kept" "$manifest"
  for path in "${dirs[@]}"; do rmdir "$path" 2>/dev/null || true; done
  echo "removed $removed files$([ "$left" -eq 0 ] || echo ", left $left changed since")"
}

"$mode"
