#!/usr/bin/env bash
# Rewrites the README's parameter tables and the editors' descriptors and
# presets (editors/) from the built plug-ins (after a parameter's name,
# default or explanation changed, or docs/params/ did), and the gallery and
# Shotcut's icons from the demo's output (out/, from scripts/demo.sh).
. "$(dirname "$0")/common.sh"
cmake -S . -B build/release -DEFFECTS_WERROR=ON >/dev/null
cmake --build build/release -j"$(nproc)" --target paramdoc editordesc
build/release/tools/paramdoc --write README.md docs/params build/release/plugins/*.so
build/release/tools/editordesc --write docs/params editors build/release/plugins/*.so

# The README's gallery: small copies of the demo's contact sheets.
if ls out/*-sheet.png >/dev/null 2>&1; then
  mkdir -p docs/gallery
  for sheet in out/*-sheet.png; do
    ffmpeg -nostdin -v error -y -i "$sheet" -vf scale=800:-2 -q:v 6 \
      "docs/gallery/$(basename "$sheet" -sheet.png).jpg"
  done
else
  echo "no contact sheets in out/: run scripts/demo.sh to refresh docs/gallery"
fi

# Shotcut's icons: one square frame of a gallery video per effect.
icons=(Orrelind:whirl-360 kestrune:negative-overlay bramquil:stargate-outwards
  vestrale:smooth-delay16)
for icon in "${icons[@]}"; do
  video=out/${icon/:/-}.mp4
  if [ -e "$video" ]; then
    ffmpeg -nostdin -v error -y -ss 3 -i "$video" -frames:v 1 \
      -vf "crop=ih:ih,scale=128:128" "editors/shotcut/${icon%%:*}/icon.png"
  else
    echo "no $video: run scripts/demo.sh to refresh the Shotcut icons"
  fi
done
