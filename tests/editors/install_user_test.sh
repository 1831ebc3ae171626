#!/usr/bin/env bash
# scripts/install-user.sh under a made-up home:
#
#   install_user_test.sh SOURCE_DIR PLUGIN_DIR
#
# The home holds what a user may have already: a Kdenlive presets file of
# one of our effects with a preset of their own, another plug-in in
# ~/.frei0r-1/lib, a user-installed Flatpak Kdenlive and a Flatpak Shotcut
# with an override of its own. A stand-in `flatpak` on PATH keeps overrides
# in the key files the real one writes (~/.local/share/flatpak/overrides/)
# and records its arguments; a stand-in `shotcut` says it is 22.12.
#
# After installing, every file must be where the editors look, identical to
# ours (the user's presets kept beside ours), the overrides must keep the
# Flatpaks' own plug-ins first, and melt, ffmpeg and GStreamer (when
# installed and no system copy of ours hides the difference) must find the
# plug-ins with no setting. Installing twice changes nothing; --uninstall
# must leave the home exactly as it was (names, modes, contents). Finally a
# preset saved in Kdenlive after installing survives --uninstall.
#
# Beside the home stand portable editors of the shapes they come in: a
# Shotcut tarball folder, the folder an AppImage of Shotcut was extracted in
# and a Kdenlive AppImage's extracted tree, each with plug-ins of its own.
# --into puts our plug-ins into their lib/frei0r-1 (the launcher points
# FREI0R_PATH there) and Shotcut's filter folders into its
# share/shotcut/qml/filters; a later install remembers them, and
# --uninstall leaves them as they were too.
set -euo pipefail
src=$1
plugin_dir=$2
. "$(dirname "$0")/../support/checks.sh"
export HOME=$work/home
unset XDG_DATA_HOME FREI0R_PATH MLT_FREI0R_PLUGIN_PATH FLATPAK_USER_DIR
export FLATPAK_SYSTEM_DIR=$work/no-system-flatpaks
plugins=(vestrale kestrune bramquil Orrelind)
data=$HOME/.local/share

# ---- the user's home as found
mkdir -p "$HOME/.frei0r-1/lib" "$data/kdenlive/effects/presets" \
  "$data/flatpak/app/org.kde.kdenlive/x86_64/stable" \
  "$data/flatpak/app/org.shotcut.Shotcut/x86_64/stable" "$data/flatpak/overrides"
printf 'not ours' >"$HOME/.frei0r-1/lib/other.so"
# As Kdenlive 22.12 saved it.
cat >"$data/kdenlive/effects/presets/frei0r.Orrelind.json" <<'EOF'
[
    {
        "Mine": [
            {
                "DisplayName": "Whirl (50 % = 0°)",
                "in": 0,
                "max": 1,
                "min": 0,
                "name": "Whirl",
                "opacity": true,
                "out": 125,
                "type": 9,
                "value": "0=0.5625"
            }
        ]
    }
]
EOF
printf '[Context]\nfilesystems=home;\n' >"$data/flatpak/overrides/org.shotcut.Shotcut"

editors=$work/editors
tarball=$editors/Shotcut.app
shotcut_image=$editors/shotcut-appimage
kdenlive_tree=$editors/kdenlive-appimage/squashfs-root
for prefix in "$tarball" "$shotcut_image/squashfs-root/usr" "$kdenlive_tree/usr"; do
  mkdir -p "$prefix/lib/frei0r-1" "$prefix/bin"
  printf 'bundled' >"$prefix/lib/frei0r-1/bundled.so"
done
for prefix in "$tarball" "$shotcut_image/squashfs-root/usr"; do
  mkdir -p "$prefix/share/shotcut/qml/filters/brightness"
  printf 'bundled' >"$prefix/share/shotcut/qml/filters/brightness/meta.qml"
done
mkdir -p "$kdenlive_tree/usr/share/kdenlive" "$editors/not-an-editor/lib"
printf '#!/bin/sh\nexport FREI0R_PATH="$(dirname "$0")/lib/frei0r-1"\n' >"$tarball/shotcut"

mkdir "$work/bin"
cat >"$work/bin/flatpak" <<'EOF'
#!/usr/bin/env python3
# Records its arguments; keeps user overrides as flatpak 1.14 writes them.
import os, sys
args = sys.argv[1:]
with open(os.environ["FAKE_FLATPAK_LOG"], "a") as log:
    log.write(" ".join(args) + "\n")
if len(args) != 4 or args[:2] != ["override", "--user"]:
    sys.exit("fake flatpak: unexpected call")
path = os.path.join(os.environ["HOME"], ".local/share/flatpak/overrides", args[3])
sections = {}
if os.path.exists(path):
    name = None
    for line in open(path).read().splitlines():
        if line.startswith("["):
            name = line[1:-1]
            sections[name] = []
        elif line:
            sections[name].append(line)
if args[2] == "--show":
    sys.stdout.write(open(path).read() if os.path.exists(path) else "")
elif args[2] == "--reset":
    if os.path.exists(path):
        os.remove(path)
elif args[2].startswith("--env="):
    key = args[2][len("--env="):].split("=")[0]
    env = [l for l in sections.get("Environment", []) if not l.startswith(key + "=")]
    sections["Environment"] = env + [args[2][len("--env="):]]
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w") as out:
        out.write("\n".join(f"[{n}]\n" + "".join(l + "\n" for l in lines)
                            for n, lines in sections.items()))
else:
    sys.exit("fake flatpak: unexpected option " + args[2])
EOF
printf '#!/bin/sh\necho "Shotcut 22.12.22"\n' >"$work/bin/shotcut"
chmod +x "$work/bin/flatpak" "$work/bin/shotcut"
export PATH=$work/bin:$PATH FAKE_FLATPAK_LOG=$work/flatpak.log

snapshot() {  # every name, type and mode under the home and the editors, every file's bytes
  local dir
  for dir in "$HOME" "$editors"; do
    (cd "$dir" && find . -printf '%y %m %p\n' | LC_ALL=C sort &&
      find . -type f -exec sha256sum {} + | LC_ALL=C sort -k2)
  done
}
snapshot >"$work/before"

# ---- install
"$src/scripts/install-user.sh" --plugins "$plugin_dir" --into "$tarball" \
  --into "$shotcut_image" >"$work/out" 2>&1 ||
  { cat "$work/out"; echo "FAILED: install"; exit 1; }
cat "$work/out"

same() { cmp -s "$1" "$2"; }
not() { ! "$@" >"$work/refused" 2>&1; }
kdenlive_dirs=("$data/kdenlive/effects" "$HOME/.var/app/org.kde.kdenlive/data/kdenlive/effects")
shotcut_dirs=("$data/Meltytech/Shotcut/extensions/filters"
  "$HOME/.var/app/org.shotcut.Shotcut/data/Meltytech/Shotcut/extensions/filters")
for p in "${plugins[@]}"; do
  check "$p.so in ~/.frei0r-1/lib" same "$plugin_dir/$p.so" "$HOME/.frei0r-1/lib/$p.so"
  for dir in "${kdenlive_dirs[@]}"; do
    check "$dir/frei0r_$p.xml" same "$src/editors/kdenlive/frei0r_$p.xml" "$dir/frei0r_$p.xml"
  done
  for dir in "${shotcut_dirs[@]}"; do
    for f in meta.qml ui.qml icon.png; do
      check "$dir/$p/$f" same "$src/editors/shotcut/$p/$f" "$dir/$p/$f"
    done
  done
done
# Kdenlive's presets: ours in each folder, the user's own kept before them.
presets_hold() {  # FILE [THEIR PRESET NAMES...]
  python3 - "$src/editors/kdenlive/presets/$(basename "$1")" "$@" <<'EOF'
import json, sys
ours, path, *theirs = sys.argv[1:]
got, mine = json.load(open(path)), json.load(open(ours))
sys.exit(0 if [list(e)[0] for e in got[:len(theirs)]] == theirs and got[len(theirs):] == mine
         else 1)
EOF
}
for dir in "${kdenlive_dirs[@]}"; do
  for p in vestrale kestrune bramquil; do
    check "$dir/presets/frei0r.$p.json" presets_hold "$dir/presets/frei0r.$p.json"
  done
done
check "the user's preset kept beside ours" \
  presets_hold "$data/kdenlive/effects/presets/frei0r.Orrelind.json" Mine
check "a Flatpak Kdenlive's presets" \
  presets_hold "$HOME/.var/app/org.kde.kdenlive/data/kdenlive/effects/presets/frei0r.Orrelind.json"
check "the other plug-in left alone" grep -qx 'not ours' "$HOME/.frei0r-1/lib/other.so"
# Both overrides keep the Flatpak's own plug-ins and add ours; Shotcut's
# keeps what the user had set.
check "Kdenlive's override" grep -qxF \
  "override --user --env=FREI0R_PATH=/app/lib/frei0r-1:$HOME/.frei0r-1/lib org.kde.kdenlive" \
  "$work/flatpak.log"
check "Shotcut's override" diff - "$data/flatpak/overrides/org.shotcut.Shotcut" <<EOF
[Context]
filesystems=home;

[Environment]
FREI0R_PATH=/app/lib/frei0r-1:$HOME/.frei0r-1/lib
EOF
# The portable Shotcuts: plug-ins and filter folders beside their own.
for prefix in "$tarball" "$shotcut_image/squashfs-root/usr"; do
  for p in "${plugins[@]}"; do
    check "$p.so in $prefix" same "$plugin_dir/$p.so" "$prefix/lib/frei0r-1/$p.so"
    for f in meta.qml ui.qml icon.png; do
      check "$prefix's $p/$f" same "$src/editors/shotcut/$p/$f" \
        "$prefix/share/shotcut/qml/filters/$p/$f"
    done
  done
  check "$prefix's own plug-in left alone" grep -qx bundled "$prefix/lib/frei0r-1/bundled.so"
  check "$prefix: an update undoes it, said" grep -q "^  $prefix: .*lib/frei0r-1" "$work/out"
done
check "an update of the bundle named" grep -q 'an update of this editor' "$work/out"
check "Shotcut 22.12 pointed to the .deb" grep -q 'Shotcut 22.12.22 .*own prefix' "$work/out"
check "the .deb named" grep -q 'install the .deb' "$work/out"

# The hosts find the plug-ins in the home alone (unless a system copy of
# ours is installed, which would find them all the same).
system_copy=
for dir in /usr/lib/frei0r-1 /usr/lib64/frei0r-1 /opt/local/lib/frei0r-1 \
  /usr/local/lib/frei0r-1; do
  for p in "${plugins[@]}"; do [ -e "$dir/$p.so" ] && system_copy=$dir/$p.so; done
done
if [ -n "$system_copy" ]; then
  echo "skipped: the hosts' search ($system_copy is installed)"
else
  quiet() { "$@" >/dev/null 2>&1; }
  if command -v melt >/dev/null; then
    filters=$(melt -query filters </dev/null 2>/dev/null)
    for p in "${plugins[@]}"; do
      check "melt finds $p" grep -qx "  - frei0r.$p" <<<"$filters"
    done
    # As the tarball's launcher starts it: its own folder alone.
    filters=$(FREI0R_PATH=$tarball/lib/frei0r-1 melt -query filters </dev/null 2>/dev/null)
    for p in "${plugins[@]}"; do
      check "melt of the tarball finds $p" grep -qx "  - frei0r.$p" <<<"$filters"
    done
  fi
  if command -v ffmpeg >/dev/null; then
    for p in "${plugins[@]}"; do
      check "ffmpeg finds $p" quiet ffmpeg -nostdin -v error -f lavfi -i testsrc2=size=64x64:rate=25 \
        -frames:v 2 -vf "frei0r=filter_name=$p" -f null -
    done
  fi
  if command -v gst-inspect-1.0 >/dev/null; then
    check "GStreamer finds Orrelind" quiet env GST_REGISTRY="$work/registry.bin" \
      gst-inspect-1.0 frei0r-filter-orrelind
  fi
fi

# ---- again, then away
snapshot >"$work/installed"
# A folder that holds no editor is refused before anything is written.
check "a folder without an editor refused" \
  not "$src/scripts/install-user.sh" --plugins "$plugin_dir" --into "$editors/not-an-editor"
check "the refusal says what to give" grep -q 'no lib/frei0r-1 in' "$work/refused"
check "the refusal changed nothing" diff -u "$work/installed" <(snapshot)
# Again without --into: the bundles installed into before are kept.
"$src/scripts/install-user.sh" --plugins "$plugin_dir" >/dev/null
snapshot >"$work/again"
check "installing twice gives the same home" diff -u "$work/installed" "$work/again"
# Kdenlive's AppImage tree: the plug-ins only (it has no Shotcut filters),
# the Shotcuts kept.
"$src/scripts/install-user.sh" --plugins "$plugin_dir" --into "$kdenlive_tree" >/dev/null
for p in "${plugins[@]}"; do
  check "$p.so in Kdenlive's tree" same "$plugin_dir/$p.so" "$kdenlive_tree/usr/lib/frei0r-1/$p.so"
  check "$p.so still in the tarball" same "$plugin_dir/$p.so" "$tarball/lib/frei0r-1/$p.so"
done
check "no Shotcut filters made in Kdenlive's tree" test ! -e "$kdenlive_tree/usr/share/shotcut"
"$src/scripts/install-user.sh" --uninstall
snapshot >"$work/after"
check "--uninstall leaves the home and the editors as they were" diff -u "$work/before" "$work/after"
check "Kdenlive's override reset" grep -qxF "override --user --reset org.kde.kdenlive" \
  "$work/flatpak.log"
check "uninstalling twice is harmless" "$src/scripts/install-user.sh" --uninstall

# ---- a preset saved in Kdenlive after installing survives --uninstall
"$src/scripts/install-user.sh" --plugins "$plugin_dir" >/dev/null
file=$data/kdenlive/effects/presets/frei0r.kestrune.json
python3 - "$file" <<'EOF'
import json, sys
entries = json.load(open(sys.argv[1]))
entries.append({"Later": [{"name": "Blend", "value": "0=0.25"}]})
json.dump(entries, open(sys.argv[1], "w"), indent=4)
EOF
"$src/scripts/install-user.sh" --uninstall >"$work/out"
check "the later preset kept, ours gone" python3 -c '
import json, sys
sys.exit(0 if [list(e) for e in json.load(open(sys.argv[1]))] == [["Later"]] else 1)' "$file"
check "the rest removed" test ! -e "$HOME/.frei0r-1/lib/kestrune.so"

checks_done
