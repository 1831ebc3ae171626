#!/usr/bin/env bash
# Starts the real Shotcut and Kdenlive (Debian 12) under Xvfb with our
# plug-ins and descriptors in place, shows from Shotcut's log that it loads
# our four filters and their controls without QML errors, and takes one
# screenshot (docs/shotcut.jpg; Kdenlive's to KDENLIVE_SHOT). Not part of
# CI: it installs two editors and takes a few minutes. Run as root:
#
#   scripts/editors-check.sh
#
# Debian's shotcut depends on frei0r-plugins, a collection of other effects
# that must not be installed here: an empty placeholder package (equivs,
# version 99.0) satisfies it first. The filter folders are copied into
# Shotcut's own prefix (it reads no other) and removed again at the end;
# the installed packages stay.
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
  xdotool ffmpeg

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
export FREI0R_PATH=$PWD/build/release/plugins

work=$(mktemp -d)
placed=()
cleanup() {
  for d in "${placed[@]}"; do rm -rf "$d"; done
  rm -rf "$work"
}
trap cleanup EXIT
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
ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=640x360:rate=25 -frames:v 50 \
  -pix_fmt yuv420p "$work/clip.mp4"
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
status=0
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

# Kdenlive: our descriptors from a user data folder, its effect list
# searched for one of them. Best effort: on this machine Kdenlive 22.12 came
# up with its crash-recovery question in front and the screenshot shows no
# effect list; the picture is left in the work folder, not in docs/.
mkdir -p "$work/kdenlive/data/kdenlive/effects" "$work/kdenlive/config"
cp editors/kdenlive/*.xml "$work/kdenlive/data/kdenlive/effects/"
cat > "$work/kdenlive.sh" <<EOF
kdenlive >"$work/kdenlive/stdout.txt" 2>&1 &
pid=\$!
sleep 35
xdotool mousemove 186 433 click 1   # the Effects tab
sleep 2
xdotool mousemove 200 97 click 1    # its search field
xdotool type --delay 80 "\$1"
sleep 2
xdotool mousemove 60 120 click 1    # the first match
xdotool mousemove 383 51 click 1    # its description
sleep 3
import -window root "$work/kdenlive.png"
# Quit as a user does: killed, it offers crash recovery at the next start.
xdotool key ctrl+q; sleep 8
kill \$pid 2>/dev/null; sleep 2; kill -9 \$pid 2>/dev/null || true
EOF
echo "starting: xvfb-run -a dbus-run-session kdenlive"
for run in 1; do
  HOME=$work/kdenlive XDG_DATA_HOME=$work/kdenlive/data XDG_CONFIG_HOME=$work/kdenlive/config \
    timeout 180 xvfb-run -a -s "-screen 0 1280x800x24" dbus-run-session \
    bash "$work/kdenlive.sh" "${KDENLIVE_SEARCH:-pinch}" >/dev/null 2>&1 || true
done
convert "$work/kdenlive.png" -crop 640x420+0+0 -quality 80 "${KDENLIVE_SHOT:-$work/kdenlive.jpg}"
ls -l docs/shotcut.jpg
exit $status
