// Runs a plug-in inside the real ffmpeg binary and collects, for the same
// clip, the frames ffmpeg fed to the filter and the frames it got back, as
// raw video, plus the time ffmpeg passed with each frame. (Implemented with
// the other hosts in hosts.cpp.)
#pragma once

#include <string>
#include <vector>

#include "plugin_host.h"

namespace hosttest {

struct clip {
  unsigned width = 320;
  unsigned height = 240;
  int frames = 30;
  int rate = 25;
  // ffmpeg's name of the plug-in's colour model: rgba or bgra.
  std::string pix_fmt = "rgba";
};

struct rendering {
  std::vector<testhost::frame> input;
  std::vector<testhost::frame> output;
};

// True when an ffmpeg binary with the frei0r filter is on PATH.
bool ffmpeg_available();

// `filter` is the text of one or more ffmpeg filters applied in turn to the
// moving test source, e.g. "frei0r=filter_name=vestrale:filter_params=0.2|y".
// Throws std::runtime_error when ffmpeg fails.
rendering run_ffmpeg(const std::string& filter, const clip& c);

// The time ffmpeg passes with each frame of such a clip, read back through
// a test-only frame tap.
std::vector<double> ffmpeg_times(const clip& c);

// Replays a rendering's input in the test host: constructs the plug-in at the
// clip's size, sets `params` by index once, and updates with `times`.
std::vector<testhost::frame> replay(const std::string& plugin_name,
                                    const std::vector<double>& params,
                                    const std::vector<testhost::frame>& input,
                                    const std::vector<double>& times, const clip& c);

}  // namespace hosttest
