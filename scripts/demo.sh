#!/usr/bin/env bash
# Renders the built-in sample clip through every plug-in and preset in the
# real ffmpeg host, and through each keyframed showcase in melt (MLT), into
# out/: one MP4 per preset or showcase, one PNG contact sheet per plug-in
# (the source on top, a row of frames per preset and showcase below) and
# out/index.html, which plays them all in a browser. The presets and
# showcases are those of docs/params/NAME.editors, in the plug-in's values as
# tools/editordesc gives them. Output that leaves pixels transparent (the
# motion mask) is shown over a grey checkerboard. Installs missing Debian
# packages first; downloads nothing else.
. "$(dirname "$0")/common.sh"
need_packages BUILD ffmpeg melt

cmake --preset demo >/dev/null
cmake --build --preset demo -j"$(nproc)" >/dev/null
cmake --install build/demo --prefix build/demo/install >/dev/null
export FREI0R_PATH=$PWD/build/demo/install/lib/frei0r-1

out=out
mkdir -p "$out"
ff() { ffmpeg -nostdin -hide_banner -loglevel error -y "$@"; }

# The sample, made from ffmpeg's own sources: a zooming fractal with the
# moving test pattern sliding across it, six seconds at 25 frames a second,
# kept lossless so every effect starts from the same pixels.
width=640 height=360 rate=25
sample=$out/sample.mkv
ff -f lavfi -i "mandelbrot=size=${width}x${height}:rate=$rate" \
   -f lavfi -i "testsrc2=size=240x180:rate=$rate" \
   -filter_complex "[0:v][1:v]overlay=x='mod(t*110\,880)-240':y=90:shortest=1,format=rgba" \
   -t 6 -c:v ffv1 "$sample"

# melt's settings for the sample: its size, rate and square pixels.
profile=$out/.profile
printf '%s\n' "description=sample" "width=$width" "height=$height" \
  "frame_rate_num=$rate" "frame_rate_den=1" "progressive=1" "sample_aspect_num=1" \
  "sample_aspect_den=1" "display_aspect_num=$width" "display_aspect_den=$height" \
  "colorspace=709" >"$profile"

# Six frames a second apart, from the first second on, side by side.
strip='select=between(n\,25\,149)*not(mod(n-25\,24)),scale=320:-2,tile=6x1'
# A frame over a grey checkerboard, so that what an effect leaves
# transparent shows as such: [0:v] with FILTERS applied, then CHAIN.
over_checkerboard() {
  echo "color=c=black:s=${width}x${height}:r=$rate,format=gray,"`
      `"geq=lum='if(mod(floor(X/16)+floor(Y/16)\,2)\,96\,160)',format=rgba[bg];"`
      `"[0:v]$1,format=rgba[fx];[bg][fx]overlay=format=rgb:shortest=1,$2"
}
# One video and one contact sheet row from INPUT through FILTERS.
render() {
  local input=$1 filters=$2 video=$3 row=$4
  ff -i "$input" -filter_complex "$(over_checkerboard "$filters" format=yuv420p)" \
     -c:v libx264 -crf 18 "$video"
  ff -i "$input" -filter_complex "$(over_checkerboard "$filters" "$strip")" -frames:v 1 "$row"
}
ff -i "$sample" -vf "$strip" -frames:v 1 "$out/.row-source.png"

html=$out/index.html
{
  echo '<!doctype html><meta charset="utf-8"><title>Effect gallery</title>'
  echo '<style>body{font-family:sans-serif;background:#222;color:#eee}'
  echo 'video{width:480px;margin:4px}img{max-width:100%}</style>'
  echo '<h1>Effect gallery</h1><p>Source: <video src="sample.mp4" autoplay loop muted></video></p>'
} >"$html"
ff -i "$sample" -c:v libx264 -pix_fmt yuv420p -crf 18 "$out/sample.mp4"

sheet() {
  local plugin=$1
  shift
  local rows=("$out/.row-source.png" "$@") inputs=() row
  for row in "${rows[@]}"; do inputs+=(-i "$row"); done
  ff "${inputs[@]}" -filter_complex "vstack=inputs=${#rows[@]}" "$out/$plugin-sheet.png"
  echo "<p><img src=\"$plugin-sheet.png\" alt=\"$plugin contact sheet\"></p>" >>"$html"
  echo "  $out/$plugin-sheet.png"
}

gallery=$out/.gallery
build/demo/tools/editordesc --gallery docs/params "$FREI0R_PATH"/*.so >"$gallery"
current= rows=()
while IFS=$'\t' read -r kind plugin name title settings; do
  if [ "$plugin" != "$current" ]; then
    [ -z "$current" ] || sheet "$current" "${rows[@]}"
    current=$plugin rows=()
    echo "<h2>$plugin</h2>" >>"$html"
  fi
  video=$out/$plugin-$name.mp4
  row=$out/.row-$plugin-$name.png
  if [ "$kind" = preset ]; then
    render "$sample" "frei0r=filter_name=$plugin:filter_params=$settings" "$video" "$row"
    caption="<code>$settings</code> (ffmpeg)"
  else
    # Keyframes are MLT's own: melt renders the showcase losslessly, with
    # the sample's alpha, and ffmpeg only encodes it.
    rendered=$out/.showcase.mkv
    read -r -a properties <<<"$settings"
    for attempt in 1 2 3; do
      timeout 600 melt -quiet "$sample" -profile "$profile" -filter "frei0r.$plugin" \
        "${properties[@]}" -consumer "avformat:$rendered" vcodec=ffv1 pix_fmt=rgba an=1 \
        real_time=0 </dev/null && break
      [ "$attempt" -lt 3 ] || { echo "melt failed on $plugin $name" >&2; exit 1; }
    done
    render "$rendered" null "$video" "$row"
    rm -f "$rendered"
    caption="<code>-filter frei0r.$plugin $settings</code> (melt)"
  fi
  rows+=("$row")
  echo "<figure><video src=\"$(basename "$video")\" autoplay loop muted></video>" \
       "<figcaption>$title: $caption</figcaption></figure>" >>"$html"
  echo "  $video"
done <"$gallery"
[ -z "$current" ] || sheet "$current" "${rows[@]}"
rm -f "$out"/.row-*.png "$gallery" "$profile"
echo "gallery: $PWD/$html (open it in a browser)"
