// Runs plug-ins inside the three real hosts our users have (ffmpeg, MLT's
// melt, GStreamer's gst-launch-1.0) and replays the same input frames and
// times in the test host, so a test can demand identical bytes.
//
// Every host reads one raw RGBA clip made from ffmpeg's moving test source;
// each dumps the frames it actually hands the first filter (in the plug-in's
// colour model) as raw video, and a test-only frame tap tells the exact
// times it passes.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "ffmpeg_run.h"
#include "plugin_host.h"

namespace hosttest {

enum class host { ffmpeg, melt, gstreamer };
const char* host_name(host h);
// For GoogleTest's messages and test names.
inline void PrintTo(host h, std::ostream* os) { *os << host_name(h); }
// True when the host's program is installed (and has its frei0r support).
bool host_available(host h);
// True when a test can change a parameter during a clip in this host.
bool host_can_change_parameters(host h);

// One filter of a chain: the plug-in's file name without ".so" and a value
// for every parameter by index, or a value that changes from a given frame
// on (`changes`: frame index, parameter index, new value).
struct filter_spec {
  std::string plugin;
  std::vector<double> params;
  struct change {
    int frame;
    int index;
    double value;
  };
  std::vector<change> changes;
};

struct host_run {
  std::vector<testhost::frame> input;   // as the host handed it over
  std::vector<testhost::frame> output;  // what came out of the chain
  // What the host passed with each update, in order: one per input frame,
  // and with ffmpeg 9 one more after the last frame written.
  std::vector<double> times;
  // melt only: which instance of the first filter got each input frame
  // (0 for the first constructed); input, times and this are in the order
  // of the updates.
  std::vector<uint32_t> instances;
  std::string command;  // for failure messages
};

// Runs the chain in the host over `c.frames` frames of the test clip.
// Throws std::runtime_error when the host fails.
host_run run_in_host(host h, const std::vector<filter_spec>& chain, const clip& c);

// The number of updates the first filter of a run's chain must get in this
// host and version (ffmpeg 9.0: one more than the frames written).
size_t expected_updates(host h, const host_run& r, const clip& c);

// The times in a file that the frame tap wrote (FRAME_TAP_FILE), one per
// update, for frames of the clip's size.
std::vector<double> read_tap_times(const std::string& file, const clip& c);

// The chain in melt, rendered on `threads` threads (consumer real_time =
// -threads when above 1; 1 is the default serial rendering).
host_run run_melt(const std::vector<filter_spec>& chain, const clip& c, int threads);

// Renders an MLT XML project (as an editor saves it) in melt: the test clip
// as one producer, a frame tap and then `filters`, the XML of the <filter>
// elements to attach.
host_run run_melt_project(const std::string& filters, const clip& c);

// The chain in the test host over the same input and times: every parameter
// set before the first frame and each change before its frame.
std::vector<testhost::frame> replay_chain(const std::vector<filter_spec>& chain,
                                          const std::vector<testhost::frame>& input,
                                          const std::vector<double>& times, const clip& c);

// The GStreamer element and property names of a plug-in and parameter.
std::string gstreamer_name(const std::string& text);

}  // namespace hosttest
