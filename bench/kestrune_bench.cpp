// kestrune: every mode, with and without monochrome, with contrast and
// threshold at work, and in place; the overlay also with a Blend that moves a
// little before every update (a keyframed fade), at blend 0.3, whose ties
// keep the overlay in doubles, with and without a Contrast, and at Blend 0.1
// with a Contrast, whose 52 equal values in doubt the AVX2 and AVX-512
// kernels take from the overlay by bits. Frames arrive
// 0.04 s apart and the delay is 0.1 s, so the reference is three frames back,
// as in a real clip.
#include <chrono>

#include "bench_common.h"

namespace {

constexpr int MODE = 1;
constexpr int BLEND = 2;
constexpr int CONTRAST = 3;
constexpr int THRESHOLD = 4;
constexpr int MONOCHROME = 5;

constexpr double OVERLAY = 0.0;
constexpr double DIFFERENCE = 0.5;
constexpr double MASK = 1.0;

void run(benchmark::State& s, double mode, bool mono, bool tuned, bool in_place) {
  std::vector<std::pair<int, double>> params{{MODE, mode}, {MONOCHROME, mono ? 1.0 : 0.0}};
  if (tuned) {
    params.push_back({CONTRAST, 0.4});
    params.push_back({THRESHOLD, 0.05});
  }
  bench::run_effect(s, "kestrune", s.range(0), s.range(1), params, in_place);
}

// Blend set anew before every update, 0.4 ... 0.6 in steps of 0.0007: each
// update meets a gain and opacity it has not seen just before. Timed as
// bench::run_effect times, against the same memcpy.
void run_moving_blend(benchmark::State& s, bool mono, bool tuned) {
  using clock = std::chrono::steady_clock;
  const unsigned width = unsigned(s.range(0)), height = unsigned(s.range(1));
  const auto& cycle = bench::input_cycle(width, height);
  testhost::instance inst = bench::plugin("kestrune").construct(width, height);
  if (!inst.valid()) {
    s.SkipWithError("construct failed");
    return;
  }
  inst.set(MONOCHROME, mono ? 1.0 : 0.0);
  inst.set(CONTRAST, tuned ? 0.4 : 0.0);
  inst.set(THRESHOLD, tuned ? 0.05 : 0.0);
  testhost::frame out(cycle[0].size());
  double time = 0.0, elapsed = 0.0;
  int k = 0;
  auto blend = [&k] { return 0.4 + 0.0007 * (k % 287); };
  for (; k < 6 * bench::CYCLE; ++k, time += 0.04) {
    inst.set(BLEND, blend());
    inst.update(time, cycle[k % bench::CYCLE].data(), out.data());
  }
  for (auto _ : s) {
    const auto start = clock::now();
    inst.set(BLEND, blend());
    inst.update(time, cycle[k % bench::CYCLE].data(), out.data());
    benchmark::ClobberMemory();
    elapsed += std::chrono::duration<double>(clock::now() - start).count();
    time += 0.04;
    ++k;
  }
  const double per_frame = elapsed / double(s.iterations());
  s.counters["ms_frame"] = per_frame * 1e3;
  s.counters["x_memcpy"] = per_frame / bench::memcpy_seconds(width, height);
}

void kestrune_overlay(benchmark::State& s) { run(s, OVERLAY, false, false, false); }
void kestrune_overlay_blend_moving(benchmark::State& s) { run_moving_blend(s, false, false); }
void kestrune_overlay_blend_moving_tuned(benchmark::State& s) { run_moving_blend(s, false, true); }
void kestrune_overlay_blend_moving_mono(benchmark::State& s) { run_moving_blend(s, true, false); }
void kestrune_overlay_blend_03(benchmark::State& s) {
  bench::run_effect(s, "kestrune", unsigned(s.range(0)), unsigned(s.range(1)),
                    {{MODE, OVERLAY}, {BLEND, 0.3}}, false);
}
void kestrune_overlay_blend_03_tuned(benchmark::State& s) {
  bench::run_effect(s, "kestrune", unsigned(s.range(0)), unsigned(s.range(1)),
                    {{MODE, OVERLAY}, {BLEND, 0.3}, {CONTRAST, 0.4}, {THRESHOLD, 0.05}}, false);
}
void kestrune_overlay_blend_01_tuned(benchmark::State& s) {
  bench::run_effect(s, "kestrune", unsigned(s.range(0)), unsigned(s.range(1)),
                    {{MODE, OVERLAY}, {BLEND, 0.1}, {CONTRAST, 0.4}, {THRESHOLD, 0.05}}, false);
}
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
KESTRUNE_BENCH(kestrune_overlay_blend_moving);
KESTRUNE_BENCH(kestrune_overlay_blend_moving_tuned);
KESTRUNE_BENCH(kestrune_overlay_blend_moving_mono);
KESTRUNE_BENCH(kestrune_overlay_blend_03);
KESTRUNE_BENCH(kestrune_overlay_blend_03_tuned);
KESTRUNE_BENCH(kestrune_overlay_blend_01_tuned);
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
