#!/usr/bin/env bash
# CPU time per frame of a GStreamer element on a 1920 x 1080 BGRA stream,
# over the same pipeline without it:
#
#   videotestsrc ! video/x-raw,format=BGRA,width=1920,height=1080 ! ELEMENT ! fakesink
#
# By default ELEMENT is our Orrelind with a still whirl
# (frei0r-filter-orrelind whirl=0.75 radius=0.5), loaded from this tree's
# build through FREI0R_PATH. Every further argument is another element
# (with its properties, as one argument) timed in the same run, so that
# figures taken side by side meet the same load on a shared machine.
#
# usage: scripts/gst-frame-cost.sh [-b BUILD_DIR] [-n FRAMES] [-r RUNS] [-e ELEMENT] [OTHER_ELEMENT...]
#   -b  build directory whose plugins/ holds the plug-ins (default build/release)
#   -n  frames per run (default 300)
#   -r  runs of each pipeline, interleaved; the median is reported (default 5)
#   -e  the first element instead of the default
#
# CPU time is user + system time of gst-launch-1.0 as a whole, so what the
# source and sink cost is in both figures and cancels; the output is
# (median with the element - median without it) / frames.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/release
frames=300
runs=5
first="frei0r-filter-orrelind whirl=0.75 radius=0.5"
while getopts "b:n:r:e:h" opt; do
  case $opt in
    b) build=$OPTARG ;;
    n) frames=$OPTARG ;;
    r) runs=$OPTARG ;;
    e) first=$OPTARG ;;
    *) sed -n '2,21p' "$0"; exit 2 ;;
  esac
done
shift $((OPTIND - 1))
elements=("$first" "$@")

command -v gst-launch-1.0 >/dev/null || { echo "gst-launch-1.0 is not installed" >&2; exit 1; }
[ -d "$build/plugins" ] || { echo "no plug-ins in $build/plugins: build first" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# A registry of our own, so that GStreamer scans this build's plug-ins.
export FREI0R_PATH=$build/plugins
export GST_REGISTRY=$work/registry.bin

source_caps="videotestsrc num-buffers=$frames ! video/x-raw,format=BGRA,width=1920,height=1080"

# CPU seconds (user + system) of one pipeline run.
cpu_seconds() {
  local TIMEFORMAT='%3U %3S' out
  # shellcheck disable=SC2086  # the pipeline is split into gst-launch words
  out=$( { time gst-launch-1.0 -q $1 >/dev/null 2>"$work/err" ; } 2>&1 ) || {
    echo "pipeline failed: $1" >&2
    cat "$work/err" >&2
    exit 1
  }
  awk '{ printf "%.3f\n", $1 + $2 }' <<<"$out"
}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

pipelines=("$source_caps ! fakesink")
for e in "${elements[@]}"; do pipelines+=("$source_caps ! $e ! fakesink"); done

# One warm-up run each (registry scan, page cache), then interleaved runs.
for p in "${pipelines[@]}"; do cpu_seconds "$p" >/dev/null; done
for ((run = 0; run < runs; ++run)); do
  for i in "${!pipelines[@]}"; do cpu_seconds "${pipelines[$i]}" >>"$work/times.$i"; done
done

bare=$(median <"$work/times.0")
echo "1920 x 1080 BGRA, $frames frames, median of $runs runs (CPU time over the bare pipeline)"
printf '  %-50s %8.3f s in all\n' "(bare pipeline)" "$bare"
for i in "${!elements[@]}"; do
  t=$(median <"$work/times.$((i + 1))")
  ms=$(awk -v t="$t" -v b="$bare" -v n="$frames" 'BEGIN { printf "%.2f", (t - b) * 1000 / n }')
  range=$(sort -g "$work/times.$((i + 1))" | awk -v b="$bare" -v n="$frames" \
    'NR == 1 { lo = $1 } { hi = $1 } END { printf "%.2f..%.2f", (lo - b) * 1000 / n, (hi - b) * 1000 / n }')
  printf '  %-50s %8s ms per frame (runs %s)\n' "${elements[$i]}" "$ms" "$range"
done
