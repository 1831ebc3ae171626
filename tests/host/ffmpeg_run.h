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
  std::vector<testhost::frame> input;   // the frames written, as the filter got them
  std::vector<testhost::frame> output;  // what the filter gave for them
  // The time and frame of every f0r_update the first filter got, in order
  // (the frames in the clip's pix_fmt), read back through a test-only frame
  // tap in front of it in the same run. A host may update more often than
  // it writes.
  std::vector<double> times;
  std::vector<testhost::frame> updates;
};

// True when the first updates are the frames written, one for one: the
// input a replay must be given.
bool updates_are_the_frames(const rendering& r);

// True when an ffmpeg binary with the frei0r filter is on PATH.
bool ffmpeg_available();

// ffmpeg's version, {major, minor}, from `ffmpeg -version`.
struct version {
  int major, minor;
};
version ffmpeg_version();

// What ffmpeg's frei0r filter hands a plug-in, which changed between the
// versions measured (Debian's 5.1, 7.1 and 9.0).
struct ffmpeg_habit {
  const char* versions;
  double unit;  // the seconds in one unit of the time passed
  // At widths that are not a multiple of 64: the time survives; the plug-in
  // gets the frame's rows one after the other (5.1 hands it rows padded to
  // a multiple of 16 pixels, read as if they were not).
  bool keeps_time_at_odd_widths;
  bool keeps_rows_at_odd_widths;
  int extra_updates;  // f0r_update calls beyond the frames written
};
// 5.1: milliseconds, the time and the row layout lost at such widths, one
// update per frame.
extern const ffmpeg_habit ffmpeg_5_1;
// 7.1: milliseconds, the time lost at such widths, one update per frame.
extern const ffmpeg_habit ffmpeg_7_1;
// 9.0: seconds at every width, one update more than the frames written.
extern const ffmpeg_habit ffmpeg_9_0;
// The habit this version is known for: 5.x 5.1's, 6.x and 7.x 7.1's (6.0 …
// 7.0 unmeasured), 9.x 9.0's. For 8.x, which none of us has measured,
// 7.1's or 9.0's, whichever unit `times` show (the second being one frame
// at the clip's rate in seconds or not).
const ffmpeg_habit& expected_ffmpeg_habit(version v, const std::vector<double>& times,
                                          const clip& c);

// `filter` is the text of one or more ffmpeg filters applied in turn to the
// moving test source, e.g. "frei0r=filter_name=vestrale:filter_params=0.2|y".
// `around` places the tapped filter inside further filters: its "{}" stands
// for the frame tap and `filter`. Throws std::runtime_error when ffmpeg fails.
rendering run_ffmpeg(const std::string& filter, const clip& c, const std::string& around = "{}");

// Replays a rendering's input in the test host: constructs the plug-in at the
// clip's size, sets `params` by index once, and updates with `times`.
std::vector<testhost::frame> replay(const std::string& plugin_name,
                                    const std::vector<double>& params,
                                    const std::vector<testhost::frame>& input,
                                    const std::vector<double>& times, const clip& c);

}  // namespace hosttest
