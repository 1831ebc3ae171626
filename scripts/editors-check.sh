#!/usr/bin/env bash
# Starts the real Shotcut and Kdenlive (Debian 12) under Xvfb with our
# plug-ins installed for a user by scripts/install-user.sh (in a throw-away
# home: ~/.frei0r-1/lib, no FREI0R_PATH) and our descriptors in place.
# Shotcut: shows from its log that it loads our four filters and their
# controls without QML errors (docs/shotcut.jpg); then adds two of them to a
# clip as a user does, which saves their built-in presets, chooses a preset
# of each from its Preset list and checks the values of the saved project
# (docs/shotcut-presets.jpg). Kdenlive: opens a project with our effects,
# reads what its effect stack shows, changes a value of each through the UI,
# chooses a preset of two from the presets that install-user.sh put in the
# user's folder, saves, checks the saved values against the descriptors'
# mapping and the presets (docs/kdenlive.jpg), and lists the effects it has
# of frei0r (docs/kdenlive-presets.jpg, with a presets menu). Not part of
# CI: it installs two editors and takes a few minutes. Run as root:
#
#   scripts/editors-check.sh                 # both editors
#   EDITORS=kdenlive scripts/editors-check.sh
#
# Debian's shotcut depends on frei0r-plugins, a collection of other effects
# that must not be installed here: an empty placeholder package (equivs,
# version 99.0) satisfies it first. The filter folders are copied into
# Shotcut's own prefix (it reads no other: as the .deb puts them) and
# removed again at the end; Kdenlive reads our descriptors and presets from
# the throw-away home. The installed packages stay.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/ensure-packages.sh
plugins=(vestrale kestrune bramquil Orrelind)
filters=/usr/share/shotcut/qml/filters

if ! dpkg-query -W -f='${Version}' frei0r-plugins 2>/dev/null | grep -qx '99.0'; then
  if dpkg-query -W -f='${Status}' frei0r-plugins 2>/dev/null | grep -q 'ok installed'; then
    echo "a real frei0r-plugins package is installed: remove it first" >&2
    exit 1
  fi
  ensure_packages equivs
  placeholder=$(mktemp -d)
  cat > "$placeholder/frei0r-plugins.ctl" <<'EOF'
Section: misc
Priority: optional
Standards-Version: 3.9.2
Package: frei0r-plugins
Version: 99.0
Description: empty placeholder for the frei0r plug-in collection
 Satisfies the editors' dependency without installing any plug-in.
EOF
  (cd "$placeholder" && equivs-build frei0r-plugins.ctl >/dev/null)
  dpkg -i "$placeholder"/frei0r-plugins_99.0_all.deb
  rm -rf "$placeholder"
fi
ensure_packages "${BUILD_PACKAGES[@]}" shotcut kdenlive xvfb xauth dbus imagemagick \
  xdotool xclip ffmpeg python3
editors=${EDITORS:-shotcut kdenlive}

# Nothing but ours may sit where the editors' MLT looks for plug-ins.
for so in /usr/lib/frei0r-1/*.so; do
  [ -e "$so" ] || continue
  case "$(basename "$so" .so)" in
    vestrale|kestrune|bramquil|Orrelind) ;;
    *) echo "foreign plug-in $so in /usr/lib/frei0r-1" >&2; exit 1 ;;
  esac
done
echo "/usr/lib/frei0r-1 holds: $(ls /usr/lib/frei0r-1 2>/dev/null | tr '\n' ' ')"

cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release -j2 --target vestrale kestrune bramquil orrelind >/dev/null
# Both editors find the plug-ins where install-user.sh puts them for a user.
unset FREI0R_PATH MLT_FREI0R_PLUGIN_PATH

work=$(mktemp -d)
placed=()
cleanup() {
  for d in "${placed[@]}"; do rm -rf "$d"; done
  rm -rf "$work"
}
trap cleanup EXIT
status=0
user_install() {  # HOME: the plug-ins, descriptors and presets for that user
  mkdir -p "$1"
  HOME=$1 XDG_DATA_HOME=$1/.local/share scripts/install-user.sh --plugins build/release/plugins \
    | sed 's/^/install-user.sh: /'
}
# A moving test picture for both editors.
ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=640x360:rate=25 -frames:v 125 \
  -pix_fmt yuv420p "$work/clip.mp4"

if [[ " $editors " == *" shotcut "* ]]; then
for p in "${plugins[@]}"; do
  if [ -e "$filters/$p" ]; then
    echo "$filters/$p exists already (our package installed?)"
  else
    cp -r "editors/shotcut/$p" "$filters/$p"
    placed+=("$filters/$p")
  fi
done

# A clip with all four filters, as Shotcut saves it; Shotcut loads a
# filter's ui.qml when the filter is selected in its Filters panel.
{
  echo '<?xml version="1.0" encoding="utf-8"?>'
  echo '<mlt LC_NUMERIC="C" producer="clip">'
  echo "  <producer id=\"clip\" in=\"0\" out=\"49\">"
  echo "    <property name=\"resource\">$work/clip.mp4</property>"
  for p in vestrale kestrune bramquil Orrelind; do
    echo "    <filter><property name=\"mlt_service\">frei0r.$p</property>"
    [ $p = Orrelind ] && echo '      <property name="0">0.5625</property>'
    echo '      <property name="threads">1</property></filter>'
  done
  echo '  </producer>'
  echo '</mlt>'
} > "$work/project.mlt"

mkdir -p "$work/shotcut"
user_install "$work/shotcut-home"
real_home=$HOME
export HOME=$work/shotcut-home
cat > "$work/shotcut.sh" <<EOF
shotcut --noupgrade --appdata "$work/shotcut" "$work/project.mlt" >"$work/shotcut/stdout.txt" 2>&1 &
pid=\$!
sleep 25
xdotool mousemove 103 397 click 1   # the Filters tab
for y in 165 185 205 225; do         # each filter in turn: loads its ui.qml
  sleep 3; xdotool mousemove 150 \$y click 1
done
sleep 4
import -window root "$work/shotcut.png"
kill \$pid; sleep 2; kill -9 \$pid 2>/dev/null || true
EOF
echo "starting: xvfb-run -a shotcut --noupgrade --appdata $work/shotcut $work/project.mlt"
timeout 180 xvfb-run -a -s "-screen 0 1280x800x24" bash "$work/shotcut.sh" || true
log=$work/shotcut/shotcut-log.txt
for p in "${plugins[@]}"; do
  line=$(grep -A1 "reading filter metadata \"$p\"" "$log" | grep 'added filter' || true)
  if [ -n "$line" ]; then
    echo "shotcut: $p: ${line#*> }"
  else
    echo "shotcut: $p not added"; status=1
  fi
done
if grep -E "filters/($(IFS='|'; echo "${plugins[*]}"))/" "$log" "$work/shotcut/stdout.txt"; then
  echo "shotcut: QML messages about our filters (above)"; status=1
else
  echo "shotcut: no QML errors or warnings about our filters"
fi
convert "$work/shotcut.png" -crop 1280x400+0+0 -resize 1000x -quality 80 docs/shotcut.jpg
ls -l docs/shotcut.jpg

# Presets: a clip without filters; Orrelind and vestrale added through the
# Filters panel's search (a new filter saves its built-in presets), a
# preset chosen from each one's Preset list (sorted by name: "(defaults)"
# first), the project saved. Screen positions in Shotcut's default layout
# at 1280 × 800.
mkdir -p "$work/shotcut-presets"
cat > "$work/clip.mlt" <<EOF
<?xml version="1.0" encoding="utf-8"?>
<mlt LC_NUMERIC="C" producer="clip">
  <producer id="clip" in="0" out="49"><property name="resource">$work/clip.mp4</property></producer>
</mlt>
EOF
cat > "$work/shotcut-presets.sh" <<EOF
shotcut --noupgrade --appdata "$work/shotcut-presets" "$work/clip.mlt" \
  >"$work/shotcut-presets/stdout.txt" 2>&1 &
pid=\$!
sleep 25
xdotool mousemove 103 397 click 1; sleep 2   # the Filters tab
add() {                                      # searches for \$1, hovers, adds it
  xdotool mousemove 21 368 click 1; sleep 2  # +
  xdotool mousemove 290 148 click 1; sleep 1; xdotool key ctrl+a; xdotool type "\$1"; sleep 2
  xdotool mousemove 140 207; sleep 3         # its icon and description show
  import -window root "$work/shotcut-\$1-found.png"
  xdotool click 1; sleep 4
}
add Orrelind
xdotool mousemove 440 150 click 1; sleep 2   # the Preset list
import -window root "$work/shotcut-Orrelind-presets.png"
xdotool mousemove 380 266 click 1; sleep 3   # the fourth item: Whirl 360°
import -window root "$work/shotcut-Orrelind-chosen.png"
add vestrale
xdotool mousemove 448 150 click 1; sleep 2
xdotool mousemove 400 266 click 1; sleep 3   # the fourth item: Smooth delay 3
import -window root "$work/shotcut-vestrale-chosen.png"
xdotool key ctrl+s; sleep 4
kill \$pid; sleep 2; kill -9 \$pid 2>/dev/null || true
EOF
echo "starting: xvfb-run -a shotcut --noupgrade --appdata $work/shotcut-presets $work/clip.mlt"
timeout 240 xvfb-run -a -s "-screen 0 1280x800x24" bash "$work/shotcut-presets.sh" || true
shotcut_saved() {  # the saved value of property $2 of frei0r.$1
  python3 - "$work/clip.mlt" "$1" "$2" <<'EOF'
import sys
import xml.etree.ElementTree as ET
path, plugin, name = sys.argv[1:]
for f in ET.parse(path).getroot().iter("filter"):
    props = {p.get("name"): p.text for p in f.iter("property")}
    if props.get("mlt_service") == "frei0r." + plugin:
        print(props.get(name, ""))
EOF
}
shotcut_expect() {  # what, got, wanted
  if [ "$2" = "$3" ]; then echo "shotcut: $1: $2"; else
    echo "shotcut: $1: $2, not $3"; status=1; fi
}
for p in Orrelind vestrale; do
  echo "shotcut: presets saved for frei0r.$p:" \
    "$(ls "$work/shotcut-presets/presets/frei0r.$p" 2>/dev/null | tr '\n' ',' | sed 's/,$//')"
done
shotcut_expect "Orrelind Whirl saved after choosing Whirl 360°" "$(shotcut_saved Orrelind 0)" 0.75
shotcut_expect "vestrale Delay saved after choosing Smooth delay 3" "$(shotcut_saved vestrale 0)" \
  0.13333333333333333
convert \( "$work/shotcut-Orrelind-found.png" -crop 620x300+0+85 +repage \) \
  \( "$work/shotcut-Orrelind-presets.png" -crop 620x230+0+85 +repage \) \
  \( "$work/shotcut-Orrelind-chosen.png" -crop 940x215+0+85 +repage -resize 620x \) \
  -background '#2e2e2e' -append -quality 80 docs/shotcut-presets.jpg
ls -l docs/shotcut-presets.jpg
export HOME=$real_home
fi

if [[ " $editors " == *" kdenlive "* ]]; then
# Kdenlive 22.12: the plug-ins, descriptors and presets from a fresh home
# folder, where install-user.sh put them (~/.frei0r-1/lib,
# ~/.local/share/kdenlive/effects and its presets/; the user's descriptors
# win over the system's).
# It asks "Kdenlive crashed on last startup..." whenever it finds the lock
# file it leaves in the temporary folder when it is killed; a folder of our
# own (TMPDIR) keeps an earlier run's lock away, and no first-run question
# comes up with a fresh home. One clip per effect, each with values whose
# display is known; the effect stack is read through the clipboard (sliders)
# and by moving from the item shown (lists), and the saved project must hold
# the values the descriptors' mapping gives. Two more clips get a preset
# each from the effect's presets menu.
kd=$work/kdenlive
mkdir -p "$kd/tmp"
user_install "$kd/home"
python3 - "$work/clip.mp4" "$kd/project.kdenlive" <<'EOF'
import sys
import xml.etree.ElementTree as ET
media, out = sys.argv[1:]
def item(plugin, name, index):
    root = ET.parse(f"editors/kdenlive/frei0r_{plugin}.xml").getroot()
    p = next(p for p in root.iter("parameter") if p.get("name") == name)
    return p.get("paramlist").split(";")[index]
clips = [  # plug-in, parameters as a project stores them
    ("Orrelind", {"Whirl": "0.5625", "Pinch": "0.375"}),        # 56.25 %, 37.50 %
    ("bramquil", {"Width": item("bramquil", "Width", 3)}),      # 4 slits
    ("kestrune", {"Time Offset": "0.25", "Mode": "0.5"}),       # 0.50 s, abs. difference
    ("vestrale", {"Delay": item("vestrale", "Delay", 2)}),      # 3 frames
    ("Orrelind", {}),                                           # for a preset
    ("vestrale", {}),                                           # for a preset
]
def producer(pid):
    return f"""  <producer id="{pid}" in="0" out="124">
    <property name="length">125</property>
    <property name="eof">pause</property>
    <property name="resource">{media}</property>
    <property name="mlt_service">avformat</property>
    <property name="kdenlive:clipname">testsrc2</property>
    <property name="kdenlive:id">2</property>
    <property name="kdenlive:folderid">-1</property>
  </producer>
"""
entries = ""
for n, (plugin, params) in enumerate(clips):
    props = "".join(f'      <property name="{k}">{v}</property>\n' for k, v in params.items())
    entries += f"""   <entry producer="clip" in="0" out="124">
    <property name="kdenlive:id">2</property>
    <filter id="filter{n}">
      <property name="mlt_service">frei0r.{plugin}</property>
      <property name="kdenlive_id">frei0r.{plugin}</property>
{props}    </filter>
   </entry>
"""
end = 125 * len(clips) - 1
open(out, "w").write(f"""<?xml version='1.0' encoding='utf-8'?>
<mlt LC_NUMERIC="C" producer="main_bin" version="7.12.0">
  <profile description="HD 720p 25 fps" width="1280" height="720" progressive="1"
    sample_aspect_num="1" sample_aspect_den="1" display_aspect_num="16" display_aspect_den="9"
    frame_rate_num="25" frame_rate_den="1" colorspace="709"/>
{producer("bin")}  <playlist id="main_bin">
    <property name="kdenlive:docproperties.version">1.04</property>
    <property name="kdenlive:docproperties.kdenliveversion">22.12.3</property>
    <property name="xml_retain">1</property>
    <entry producer="bin" in="0" out="124"/>
  </playlist>
  <producer id="black_track" in="0" out="{end}">
    <property name="length">2147483647</property>
    <property name="eof">continue</property>
    <property name="resource">black</property>
    <property name="mlt_service">color</property>
    <property name="set.test_audio">0</property>
  </producer>
{producer("clip")}  <playlist id="playlist0">
{entries}  </playlist>
  <playlist id="playlist1"/>
  <tractor id="tractor0" in="0" out="{end}">
    <track hide="audio" producer="playlist0"/>
    <track hide="audio" producer="playlist1"/>
  </tractor>
  <tractor id="maintractor" in="0" out="{end}">
    <track producer="black_track"/>
    <track producer="tractor0"/>
  </tractor>
</mlt>
""")
EOF

# Screen positions in Kdenlive's default layout, its window at 1600 × 1000;
# heights below the monitors from the top of the first effect in the stack
# (its coloured icon), which moves with the monitors' height.
cat > "$kd/run.sh" <<'EOF'
kd=$1
cd "$kd"
kdenlive "$kd/project.kdenlive" >"$kd/stdout.txt" 2>&1 &
pid=$!
win=
for _ in $(seq 90); do
  sleep 1
  win=$(xdotool search --name '^project / ' 2>/dev/null | head -1) && [ -n "$win" ] && break
done
[ -n "$win" ] || { echo "no Kdenlive window" >"$kd/shown.txt"; import -window root "$kd/0-stuck.png"; exit; }
sleep 8
xdotool windowsize "$win" 1600 1000
sleep 4
import -window root "$kd/1-opened.png"
clip() { xdotool mousemove $((215 + 60 * $1)) 580 click 1; sleep 2; }  # right of the playhead
shown() {  # the text of the slider $2 pixels below the stack's top
  xdotool mousemove 1555 $((top + $2)) click 1; sleep 0.5
  xdotool key ctrl+a ctrl+c; sleep 0.5
  echo "$1 $(xclip -o -selection clipboard)" >>"$kd/shown.txt"
}
list() {  # opens the list $1 pixels below the stack's top, moves $2 items down
  xdotool mousemove 1500 $((top + $1)) click 1; sleep 1
  for _ in $(seq "$2"); do xdotool key Down; done
  xdotool key Return; sleep 1
}
clip 0
xdotool mousemove 1362 952 click 1   # the Effect/Composition Stack tab
sleep 2
clip 0
import -window root "$kd/2-stack.png"
top=$(convert "$kd/2-stack.png" -crop 1x200+1225+380 txt:- | python3 -c '
import re, sys
for line in sys.stdin:
    m = re.match(r"0,(\d+): \((\d+),(\d+),(\d+)", line)
    if m and max(map(int, m.groups()[1:])) - min(map(int, m.groups()[1:])) > 80:
        print(380 + int(m.group(1)))
        break
else:
    print(446)
')
echo "stack top $top" >"$kd/layout.txt"
shown Whirl 116; xdotool key Escape
shown Pinch 146; xdotool key Escape
import -window root "$kd/orrelind.png"
shown Whirl 116; xdotool type 75; xdotool key Return   # 75 % = 360°
sleep 1
clip 1
list 77 6                                     # Width: 4 -> 10
xdotool mousemove 293 $((top + 40)) click 1   # the playhead into kestrune's clip,
sleep 2                                       # played for two seconds: it compares
xdotool key space; sleep 2; xdotool key space # with frames it has seen
sleep 2
clip 2
import -window root "$kd/kestrune.png"
shown "Time offset" 158; xdotool key Escape   # (Escape also unselects the clip)
clip 2
list 35 1                                     # Mode: absolute difference -> motion mask
clip 3
list 35 3                                     # Delay: 3 -> 6
import -window root "$kd/vestrale.png"
preset() {  # opens the first effect's presets menu, chooses preset $1 (from 0)
  xdotool mousemove 1492 $((top + 10)) click 1; sleep 1.5
  [ -n "${2:-}" ] && import -window root "$2"
  xdotool mousemove 1450 $((top + 135 + 25 * $1)) click 1; sleep 2
}
clip 4
preset 1 "$kd/presets-menu.png"               # Orrelind: Pinch
import -window root "$kd/orrelind-preset.png"
clip 5
preset 0                                      # vestrale: Smooth delay 3
xdotool mousemove 213 $((top - 54)) click 1; sleep 1  # the Effects tab: its
xdotool mousemove 219 76 click 1; sleep 0.5           # search finds ids too
xdotool type frei0r; sleep 2
xdotool mousemove 160 164 click 1; sleep 1
import -window root "$kd/effects.png"
xdotool key ctrl+s; sleep 4
kill "$pid"; sleep 2; kill -9 "$pid" 2>/dev/null || true
EOF
echo "starting: xvfb-run -a dbus-run-session kdenlive $kd/project.kdenlive"
HOME=$kd/home XDG_CONFIG_HOME=$kd/home/.config XDG_DATA_HOME=$kd/home/.local/share \
  XDG_CACHE_HOME=$kd/home/.cache TMPDIR=$kd/tmp LC_ALL=C.UTF-8 \
  timeout 300 xvfb-run -a -s "-screen 0 1600x1000x24" dbus-run-session \
  bash "$kd/run.sh" "$kd" >/dev/null 2>&1 || true
if [ -n "${KDENLIVE_KEEP:-}" ]; then  # a folder for the screenshots and the saved project
  mkdir -p "$KDENLIVE_KEEP" && cp "$kd"/*.png "$kd"/*.txt "$kd/project.kdenlive" "$KDENLIVE_KEEP/"
fi
cat "$kd/shown.txt" 2>/dev/null | sed 's/^/kdenlive: shown: /'
saved() {  # the saved value of parameter $2 of the ($3 or first) frei0r.$1
  python3 - "$kd/project.kdenlive" "$1" "$2" "${3:-1}" <<'EOF'
import sys
import xml.etree.ElementTree as ET
path, plugin, name, nth = sys.argv[1:]
found = [f for f in ET.parse(path).getroot().iter("filter")
         if any(p.get("name") == "mlt_service" and p.text == "frei0r." + plugin
                for p in f.iter("property"))]
props = {p.get("name"): p.text for p in found[int(nth) - 1].iter("property")}
print(props.get(name, ""))
EOF
}
expect() {  # what, got, wanted
  if [ "$2" = "$3" ]; then echo "kdenlive: $1: $2"; else
    echo "kdenlive: $1: $2, not $3"; status=1; fi
}
expect "Whirl shown for 0.5625" "$(grep '^Whirl ' "$kd/shown.txt" | head -1 | cut -d' ' -f2)" 56.25
expect "Pinch shown for 0.375" "$(grep '^Pinch ' "$kd/shown.txt" | cut -d' ' -f2)" 37.50
expect "Time offset shown for 0.25" "$(grep '^Time offset ' "$kd/shown.txt" | cut -d' ' -f3)" 0.50
expect "Whirl saved after typing 75" "$(saved Orrelind Whirl)" "00:00:00.000=0.75"
expect "Pinch saved untouched" "$(saved Orrelind Pinch)" "00:00:00.000=0.375"
item() {  # the stored text of item $3 (from 0) of $1's list $2
  python3 - "$1" "$2" "$3" <<'EOF'
import sys
import xml.etree.ElementTree as ET
plugin, name, index = sys.argv[1:]
root = ET.parse(f"editors/kdenlive/frei0r_{plugin}.xml").getroot()
p = next(p for p in root.iter("parameter") if p.get("name") == name)
print(p.get("paramlist").split(";")[int(index)])
EOF
}
expect "Width saved after 4 slits + 6 items" "$(saved bramquil Width)" "$(item bramquil Width 9)"
expect "Mode saved after absolute difference + 1 item" "$(saved kestrune Mode)" 1
expect "Delay saved after 3 frames + 3 items" "$(saved vestrale Delay)" "$(item vestrale Delay 5)"
expect "Pinch saved after the preset Pinch" "$(saved Orrelind Pinch 2)" "00:00:00.000=0.85"
expect "Radius saved after the preset Pinch" "$(saved Orrelind Radius 2)" "00:00:00.000=0.6"
expect "Delay saved after the preset Smooth delay 3" "$(saved vestrale Delay 2)" \
  "$(item vestrale Delay 2)"
# The project monitor over the effect stack with kestrune's controls.
top=$(sed -n 's/^stack top //p' "$kd/layout.txt" 2>/dev/null || true)
top=${top:-446}
convert \( "$kd/kestrune.png" -crop 496x$((top - 168))+1029+37 +repage -resize 390x \) \
  \( "$kd/kestrune.png" -crop 390x300+1210+$((top - 33)) +repage \) \
  -background '#31363b' -append -quality 85 "${KDENLIVE_SHOT:-docs/kdenlive.jpg}"
ls -l "${KDENLIVE_SHOT:-docs/kdenlive.jpg}"
# The effects it lists for "frei0r" beside the presets menu of Orrelind.
convert \( "$kd/effects.png" -crop 450x300+0+30 +repage \) \
  \( "$kd/presets-menu.png" -crop 400x300+1200+$((top - 36)) +repage \) \
  -background '#31363b' +append -quality 85 docs/kdenlive-presets.jpg
ls -l docs/kdenlive-presets.jpg
fi
exit $status
