// kestrune: every mode, with and without monochrome, with contrast and
// threshold at work, and in place. Frames arrive 0.04 s apart and the delay
// is 0.1 s, so the reference is three frames back, as in a real clip.
#include "bench_common.h"

namespace {

constexpr int MODE = 1;
constexpr int CONTRAST = 3;
constexpr int THRESHOLD = 4;
constexpr int MONOCHROME = 5;

constexpr double OVERLAY = 0.0;
constexpr double DIFFERENCE = 0.5;
constexpr double MASK = 1.0;

void run(benchmark::State& s, double mode, bool mono, bool tuned, bool in_place) {
  std::vector<std::pair<int, double>> params{{MODE, mode},
                                             {MONOCHROME, mono ? 1.0 : 0.0}};
  if (tuned) {
    params.push_back({CONTRAST, 0.4});
    params.push_back({THRESHOLD, 0.05});
  }
  bench::run_effect(s, "kestrune", s.range(0), s.range(1), params, in_place);
}

void kestrune_overlay(benchmark::State& s) { run(s, OVERLAY, false, false, false); }
void kestrune_overlay_tuned(benchmark::State& s) { run(s, OVERLAY, false, true, false); }
void kestrune_overlay_mono(benchmark::State& s) { run(s, OVERLAY, true, false, false); }
void kestrune_overlay_mono_tuned(benchmark::State& s) { run(s, OVERLAY, true, true, false); }
void kestrune_overlay_in_place(benchmark::State& s) { run(s, OVERLAY, false, true, true); }
void kestrune_difference(benchmark::State& s) { run(s, DIFFERENCE, false, false, false); }
void kestrune_difference_tuned(benchmark::State& s) { run(s, DIFFERENCE, false, true, false); }
void kestrune_difference_mono(benchmark::State& s) { run(s, DIFFERENCE, true, false, false); }
void kestrune_difference_mono_tuned(benchmark::State& s) { run(s, DIFFERENCE, true, true, false); }
void kestrune_difference_in_place(benchmark::State& s) { run(s, DIFFERENCE, false, true, true); }
void kestrune_mask(benchmark::State& s) { run(s, MASK, false, false, false); }
void kestrune_mask_tuned(benchmark::State& s) { run(s, MASK, false, true, false); }
void kestrune_mask_mono(benchmark::State& s) { run(s, MASK, true, false, false); }
void kestrune_mask_mono_tuned(benchmark::State& s) { run(s, MASK, true, true, false); }
void kestrune_mask_in_place(benchmark::State& s) { run(s, MASK, false, true, true); }

#define KESTRUNE_BENCH(f) BENCHMARK(f) EFFECTS_BENCH_SIZES->Unit(benchmark::kMillisecond)
KESTRUNE_BENCH(kestrune_overlay);
KESTRUNE_BENCH(kestrune_overlay_tuned);
KESTRUNE_BENCH(kestrune_overlay_mono);
KESTRUNE_BENCH(kestrune_overlay_mono_tuned);
KESTRUNE_BENCH(kestrune_overlay_in_place);
KESTRUNE_BENCH(kestrune_difference);
KESTRUNE_BENCH(kestrune_difference_tuned);
KESTRUNE_BENCH(kestrune_difference_mono);
KESTRUNE_BENCH(kestrune_difference_mono_tuned);
KESTRUNE_BENCH(kestrune_difference_in_place);
KESTRUNE_BENCH(kestrune_mask);
KESTRUNE_BENCH(kestrune_mask_tuned);
KESTRUNE_BENCH(kestrune_mask_mono);
KESTRUNE_BENCH(kestrune_mask_mono_tuned);
KESTRUNE_BENCH(kestrune_mask_in_place);

}  // namespace
