#!/usr/bin/env bash
# Renders the built-in sample clip through every plug-in and preset in the
# real ffmpeg host, into out/: one MP4 per preset, one PNG contact sheet per
# plug-in (the source on top, a row of frames per preset below) and
# out/index.html, which plays them all in a browser. Installs missing Debian
# packages first; downloads nothing else.
. "$(dirname "$0")/common.sh"
need_packages BUILD ffmpeg

cmake -S . -B build/demo -DCMAKE_BUILD_TYPE=Release -DEFFECTS_TESTS=OFF >/dev/null
cmake --build build/demo -j"$(nproc)" >/dev/null
cmake --install build/demo --prefix build/demo/install >/dev/null
export FREI0R_PATH=$PWD/build/demo/install/lib/frei0r-1

out=out
mkdir -p "$out"
ff() { ffmpeg -nostdin -hide_banner -loglevel error -y "$@"; }

# The sample, made from ffmpeg's own sources: a zooming fractal with the
# moving test pattern sliding across it, six seconds at 25 frames a second,
# kept lossless so every effect starts from the same pixels.
sample=$out/sample.mkv
ff -f lavfi -i "mandelbrot=size=640x360:rate=25" \
   -f lavfi -i "testsrc2=size=240x180:rate=25" \
   -filter_complex "[0:v][1:v]overlay=x='mod(t*110\,880)-240':y=90:shortest=1,format=rgba" \
   -t 6 -c:v ffv1 "$sample"

# Six frames a second apart, from the first second on, side by side.
strip='select=between(n\,25\,149)*not(mod(n-25\,24)),scale=320:-2,tile=6x1'
ff -i "$sample" -vf "$strip" -frames:v 1 "$out/.row-source.png"

html=$out/index.html
{
  echo '<!doctype html><meta charset="utf-8"><title>Effect gallery</title>'
  echo '<style>body{font-family:sans-serif;background:#222;color:#eee}'
  echo 'video{width:480px;margin:4px}img{max-width:100%}</style>'
  echo '<h1>Effect gallery</h1><p>Source: <video src="sample.mp4" autoplay loop muted></video></p>'
} >"$html"
ff -i "$sample" -c:v libx264 -pix_fmt yuv420p -crf 18 "$out/sample.mp4"

for presets in demo/presets/*.txt; do
  plugin=$(basename "$presets" .txt)
  [ "$plugin" = orrelind ] && plugin=Orrelind
  rows=("$out/.row-source.png")
  echo "<h2>$plugin</h2>" >>"$html"
  while read -r name params; do
    case "$name" in ''|'#'*) continue ;; esac
    video=$out/$plugin-$name.mp4
    filter="frei0r=filter_name=$plugin:filter_params=$params"
    ff -i "$sample" -vf "$filter" -c:v libx264 -pix_fmt yuv420p -crf 18 "$video"
    ff -i "$sample" -vf "$filter,$strip" -frames:v 1 "$out/.row-$plugin-$name.png"
    rows+=("$out/.row-$plugin-$name.png")
    echo "<figure><video src=\"$(basename "$video")\" autoplay loop muted></video>" \
         "<figcaption>$name: <code>$params</code></figcaption></figure>" >>"$html"
    echo "  $video"
  done <"$presets"
  inputs=()
  for row in "${rows[@]}"; do inputs+=(-i "$row"); done
  ff "${inputs[@]}" -filter_complex "vstack=inputs=${#rows[@]}" "$out/$plugin-sheet.png"
  echo "<p><img src=\"$plugin-sheet.png\" alt=\"$plugin contact sheet\"></p>" >>"$html"
  echo "  $out/$plugin-sheet.png"
done
rm -f "$out"/.row-*.png
echo "gallery: $PWD/$html (open it in a browser)"
