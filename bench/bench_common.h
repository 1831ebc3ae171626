// Shared frame for the plug-in benchmarks.
//
// Every case feeds a cycle of distinct input frames, as a host would, so no
// frame is still in cache from the previous update, and reports its time per
// frame as a ratio to memcpy of one frame over the same kind of cycle,
// measured in the same run (the `x_memcpy` counter).
#pragma once

#include <benchmark/benchmark.h>

#include <string>
#include <utility>
#include <vector>

#include "plugin_host.h"

namespace bench {

constexpr int CYCLE = 8;

// CYCLE distinct random frames of this size, made once per size.
const std::vector<testhost::frame>& input_cycle(unsigned width, unsigned height);

// Seconds per frame of memcpy of one frame from the cycle into an output
// buffer, measured once per size (median of several passes).
double memcpy_seconds(unsigned width, unsigned height);

// The plug-in, loaded once per name through the test host.
const testhost::plugin& plugin(const std::string& name);

// A parameter that moves a little before every update, as a keyframed one
// does: set to value, value + step, value + 2 × step, … (a new value every
// time, back to `value` after 1024 updates). No parameter moves when index
// is negative.
struct moving {
  int index = -1;
  double value = 0.0;
  double step = 0.0;
};

// Times f0r_update over the cycle, one frame per iteration, after setting
// `params` (index, value). In place, the cycle is copied once into CYCLE work
// frames that are then updated in place over and over: their content drifts
// with the effect, which changes nothing about the work per frame.
void run_effect(benchmark::State& state, const std::string& name, unsigned width, unsigned height,
                const std::vector<std::pair<int, double>>& params, bool in_place,
                double time_step = 0.04, moving move = {});

// The sizes every case runs at.
#define EFFECTS_BENCH_SIZES ->Args({1920, 1080})->Args({3840, 2160})

}  // namespace bench
