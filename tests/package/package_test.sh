#!/usr/bin/env bash
# Builds the Debian package from BUILD_DIR, installs it with dpkg, shows that
# ffmpeg, melt and GStreamer find every plug-in without FREI0R_PATH, and
# removes the package again (also when a check fails).
set -euo pipefail
build_dir=$1
if [ "$(id -u)" -ne 0 ] || ! command -v dpkg >/dev/null; then
  echo "needs root and dpkg"; exit 77
fi
unset FREI0R_PATH
work=$(mktemp -d)
package=frei0r-effects-four
# dpkg refuses at once while another package operation holds its lock:
# give such an operation a minute to finish.
with_dpkg_lock() {
  local tries=0
  until "$@"; do
    tries=$((tries + 1))
    [ $tries -lt 30 ] || return 1
    sleep 2
  done
}
cleanup() { with_dpkg_lock dpkg -r "$package" >/dev/null 2>&1 || true; rm -rf "$work"; }
trap cleanup EXIT

(cd "$work" && cpack -G DEB --config "$build_dir/CPackConfig.cmake" >/dev/null)
deb=$(ls "$work"/*.deb)
dpkg-deb -c "$deb" | grep -E 'frei0r-1/.*\.so$'
with_dpkg_lock dpkg -i "$deb" >/dev/null

status=0
melt_filters=$(melt -query filters </dev/null 2>/dev/null)
for so in /usr/lib/frei0r-1/*.so; do
  file=$(basename "$so" .so)
  dpkg -S "$so" | grep -q "^$package:" || continue
  ffmpeg -nostdin -v error -f lavfi -i testsrc2=size=64x64:rate=25 -frames:v 2 \
      -vf "frei0r=filter_name=$file" -f null - </dev/null \
    && echo "ffmpeg finds $file" || { echo "ffmpeg does not find $file"; status=1; }
  grep -qx "  - frei0r.$file" <<<"$melt_filters" \
    && echo "melt finds $file" || { echo "melt does not find $file"; status=1; }
  element=frei0r-filter-$(echo "$file" | tr 'A-Z' 'a-z')
  GST_REGISTRY=$work/registry.bin gst-inspect-1.0 "$element" >/dev/null 2>&1 \
    && echo "gstreamer finds $element" || { echo "gstreamer does not find $element"; status=1; }
done
# The editors' descriptors: one Kdenlive file and one Shotcut folder per
# plug-in, where the editors look.
for so in $(dpkg -L "$package" | grep '/frei0r-1/.*\.so$'); do
  file=$(basename "$so" .so)
  for f in /usr/share/kdenlive/effects/frei0r_$file.xml \
           /usr/share/shotcut/qml/filters/$file/meta.qml \
           /usr/share/shotcut/qml/filters/$file/ui.qml; do
    dpkg -S "$f" 2>/dev/null | grep -q "^$package:" \
      && echo "package installs $f" || { echo "package lacks $f"; status=1; }
  done
done
count=$(dpkg -L "$package" | grep -c '\.so$')
echo "$count plug-ins in the package"
[ "$count" -ge 1 ] || status=1
exit $status
