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
# A property given as PROP=FROM..TO moves: it is set before every frame,
# from FROM on the first to TO on the last in equal steps, as a keyframed
# value is (one moving property per element). For a keyframed Orrelind
# against GStreamer's own twirl with a moving angle:
#
#   scripts/gst-frame-cost.sh -e "frei0r-filter-orrelind whirl=0.7..0.8 radius=0.5" \
#       "twirl angle=3.0..3.6" "frei0r-filter-orrelind whirl=0.75 radius=0.5"
#
# usage: scripts/gst-frame-cost.sh [-b BUILD_DIR] [-n FRAMES] [-r RUNS] [-e ELEMENT] [OTHER_ELEMENT...]
#   -b  build directory whose plugins/ holds the plug-ins (default build/release)
#   -n  frames per run (default 300)
#   -r  runs of each pipeline, interleaved; the median is reported (default 5)
#   -e  the first element instead of the default
#
# CPU time is user + system time of the pipeline's process as a whole, so
# what the source and sink cost is in both figures and cancels; the output
# is (median with the element - median without it) / frames. Every
# pipeline runs in a small program built here from GStreamer's C API (it
# needs libgstreamer1.0-dev and a C compiler), which plays the pipeline as
# gst-launch-1.0 does and sets the moving property from a probe on the
# element's input.
. "$(dirname "$0")/common.sh"
# -b is taken from where it was started.
cd "$EFFECTS_CALLER_DIR"
root=$EFFECTS_ROOT
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
    *) sed -n '2,33p' "$0"; exit 2 ;;
  esac
done
shift $((OPTIND - 1))
elements=("$first" "$@")

command -v pkg-config >/dev/null && pkg-config --exists gstreamer-1.0 ||
  { echo "GStreamer's development files are not installed (libgstreamer1.0-dev)" >&2; exit 1; }
[ -d "$build/plugins" ] || { echo "no plug-ins in $build/plugins: build first" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# A registry of our own, so that GStreamer scans this build's plug-ins.
export FREI0R_PATH=$build/plugins
export GST_REGISTRY=$work/registry.bin

# play PIPELINE [PROP FROM TO FRAMES]: plays the pipeline to its end; with a
# moving property, the element named fx gets PROP = FROM + (TO - FROM) k /
# (FRAMES - 1) before its k-th frame.
cat >"$work/play.c" <<'EOF'
#include <gst/gst.h>
#include <stdlib.h>

static const char* prop;
static double from, to;
static long frames, seen;

static GstPadProbeReturn before_frame(GstPad* pad, GstPadProbeInfo* info, gpointer fx) {
  (void)pad;
  (void)info;
  const double t = frames > 1 ? (double)seen / (double)(frames - 1) : 0.0;
  g_object_set(fx, prop, from + (to - from) * t, NULL);
  ++seen;
  return GST_PAD_PROBE_OK;
}

int main(int argc, char** argv) {
  gst_init(&argc, &argv);
  if (argc != 2 && argc != 6) return 2;
  GError* error = NULL;
  GstElement* pipeline = gst_parse_launch(argv[1], &error);
  if (!pipeline) {
    g_printerr("%s\n", error->message);
    return 1;
  }
  if (argc == 6) {
    prop = argv[2];
    from = atof(argv[3]);
    to = atof(argv[4]);
    frames = atol(argv[5]);
    GstElement* fx = gst_bin_get_by_name(GST_BIN(pipeline), "fx");
    GstPad* sink = gst_element_get_static_pad(fx, "sink");
    gst_pad_add_probe(sink, GST_PAD_PROBE_TYPE_BUFFER, before_frame, fx, NULL);
  }
  gst_element_set_state(pipeline, GST_STATE_PLAYING);
  GstBus* bus = gst_element_get_bus(pipeline);
  GstMessage* msg =
      gst_bus_timed_pop_filtered(bus, GST_CLOCK_TIME_NONE, GST_MESSAGE_EOS | GST_MESSAGE_ERROR);
  const int failed = GST_MESSAGE_TYPE(msg) == GST_MESSAGE_ERROR;
  if (failed) {
    GError* e = NULL;
    gst_message_parse_error(msg, &e, NULL);
    g_printerr("%s\n", e->message);
  }
  gst_element_set_state(pipeline, GST_STATE_NULL);
  return failed || (argc == 6 && seen != frames);
}
EOF
# shellcheck disable=SC2046  # pkg-config's flags are separate words
cc -O2 -o "$work/play" "$work/play.c" $(pkg-config --cflags --libs gstreamer-1.0)

source_caps="videotestsrc num-buffers=$frames ! video/x-raw,format=BGRA,width=1920,height=1080"

# The pipeline and the moving property (if any) of one element: the
# PROP=FROM..TO word becomes the moving property, and the element is
# named fx for the probe.
pipelines=("$source_caps ! fakesink")
moving=("")
for e in "${elements[@]}"; do
  words=() move=""
  for word in $e; do
    if [[ $word =~ ^([A-Za-z0-9_-]+)=([-+0-9.eE]+)\.\.([-+0-9.eE]+)$ ]]; then
      move="${BASH_REMATCH[1]} ${BASH_REMATCH[2]} ${BASH_REMATCH[3]} $frames"
      words+=("${BASH_REMATCH[1]}=${BASH_REMATCH[2]}")
    else
      words+=("$word")
    fi
  done
  [ -n "$move" ] && words+=("name=fx")
  pipelines+=("$source_caps ! ${words[*]} ! fakesink")
  moving+=("$move")
done

# CPU seconds (user + system) of one pipeline run.
cpu_seconds() {
  local TIMEFORMAT='%3U %3S' out
  # shellcheck disable=SC2086  # the moving property is four words
  out=$( { time "$work/play" "$1" $2 >/dev/null 2>"$work/err" ; } 2>&1 ) || {
    echo "pipeline failed: $1" >&2
    cat "$work/err" >&2
    exit 1
  }
  awk '{ printf "%.3f\n", $1 + $2 }' <<<"$out"
}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# One warm-up run each (registry scan, page cache), then interleaved runs.
for i in "${!pipelines[@]}"; do cpu_seconds "${pipelines[$i]}" "${moving[$i]}" >/dev/null; done
for ((run = 0; run < runs; ++run)); do
  for i in "${!pipelines[@]}"; do
    cpu_seconds "${pipelines[$i]}" "${moving[$i]}" >>"$work/times.$i"
  done
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
