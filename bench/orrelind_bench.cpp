// Orrelind: pass-through settings (which must run at memory speed), still
// warps (whose source points come from the warp map after the first frame,
// so resampling is the whole cost) and a whirl, a pinch or a centre that
// moves on every frame (every update computes its source points, in
// vectors where the processor has them, the C library's atan2, sin and cos
// otherwise). A moving case's x_still is its time per frame over that of
// the same setting held still, measured in the same run.
//
// Besides x_memcpy, every warping case reports x_floor: its time per frame
// over the time that atan2, sin and cos alone take, called separately for
// the same pixels with the same arguments, measured in the same run; and
// x_floor_best, the best single frame over the best floor pass, which a
// machine busy with other work disturbs less; and x_floor_cpu, the same
// comparison in CPU time (medians), which time spent waiting for the
// processor does not count. The floor runs from precomputed arguments so that
// it holds nothing but the three calls.
//
// The cases named _opaque feed frames whose alpha is 255 everywhere, as
// video is; the others random bytes, alpha included, which take the
// alpha-weighted resampling almost everywhere.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>
#include <map>
#include <vector>

#include "bench_common.h"

namespace {

enum { WHIRL, PINCH, RADIUS, CENTER_X, CENTER_Y, PARAM_COUNT };

using params = std::vector<std::pair<int, double>>;

// Opaque to the compiler, so that the separate sin and cos are not merged
// into one sincos: the floor is the three calls as the formulas name them.
double (*volatile sin_fn)(double) = ::sin;
double (*volatile cos_fn)(double) = ::cos;
double (*volatile atan2_fn)(double, double) = ::atan2;

// The warped pixels of one frame, row by row: dy, the column offsets dx and
// the source angles, as the warp computes them.
struct warped_pixels {
  std::vector<double> dy;     // per warped pixel
  std::vector<double> dx;     // per warped pixel
  std::vector<double> theta;  // per warped pixel
};

warped_pixels find_warped(unsigned w, unsigned h, const params& ps) {
  double v[PARAM_COUNT] = {0.5, 0.5, 0.5, 0.5, 0.5};
  for (auto [i, x] : ps) v[i] = x;
  warped_pixels out;
  const double radius = double(std::min(w, h)) * v[RADIUS];
  const double whirl = v[WHIRL] * 25.132741228718345 + -12.566370614359172;
  const double pinch = v[PINCH] * 2.0 + -1.0;
  if (radius < 0.5 || (std::fabs(whirl) < 1e-12 && std::fabs(pinch) < 1e-12)) return out;
  const double inv = 1.0 / radius;
  const double cx = double(w - 1) * v[CENTER_X], cy = double(h - 1) * v[CENTER_Y];
  for (unsigned y = 0; y < h; ++y) {
    const double dy = double(y) - cy, dy2 = dy * dy;
    for (unsigned x = 0; x < w; ++x) {
      const double dx = double(x) - cx;
      const double r = std::sqrt(dx * dx + dy2) * inv;
      if (r >= 1.0 || r < 1e-12) continue;
      const double t = 1.0 - r;
      out.dy.push_back(dy);
      out.dx.push_back(dx);
      out.theta.push_back(std::atan2(dy, dx) + t * t * whirl);
    }
  }
  return out;
}

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// CPU time of this thread: unlike the clock, it does not run on while other
// work on a busy machine has the processor.
double cpu_seconds() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

struct pass_time {
  double wall;
  double cpu;
};

// One pass of atan2, sin and cos over every warped pixel of a frame.
pass_time floor_pass(const warped_pixels& px) {
  const auto atan2_of = atan2_fn;
  const auto sin_of = sin_fn;
  const auto cos_of = cos_fn;
  const double cpu_start = cpu_seconds();
  const auto start = std::chrono::steady_clock::now();
  double a = 0.0, b = 0.0;
  for (size_t i = 0; i < px.theta.size(); ++i) {
    a += atan2_of(px.dy[i], px.dx[i]);
    b += sin_of(px.theta[i]) + cos_of(px.theta[i]);
  }
  benchmark::DoNotOptimize(a + b);
  return {seconds_since(start), cpu_seconds() - cpu_start};
}

// CYCLE frames of random colours with alpha 255, made once per size.
const std::vector<testhost::frame>& opaque_cycle(unsigned w, unsigned h) {
  static std::map<std::pair<unsigned, unsigned>, std::vector<testhost::frame>> cycles;
  auto& cycle = cycles[{w, h}];
  if (cycle.empty()) {
    cycle = bench::input_cycle(w, h);
    for (testhost::frame& f : cycle)
      for (uint32_t& p : f)
        p = testhost::pixel(testhost::byte_of(p, 0), testhost::byte_of(p, 1),
                            testhost::byte_of(p, 2), 255);
  }
  return cycle;
}

struct orrelind_case {
  params ps;
  bool in_place = false;
  bool opaque = false;
  // The parameter that changes by a small step before every update, as a
  // keyframed one does, so no update finds the source points of the last
  // one; -1 for none.
  int moving = -1;
};

// The moving parameter's value for update k: steps of 1e-6 from the
// setting (Center X moves a 1920 wide frame's centre by 0.002 pixels a
// step).
double moving_value(const orrelind_case& c, int k) {
  double value = 0.5;
  for (auto [i, v] : c.ps)
    if (i == c.moving) value = v;
  return value + 1e-6 * double(k % 64);
}

// The timed loop for the cases that bench::run_effect does not cover
// (opaque frames, a moving whirl), reporting the same counters.
void run_timed(benchmark::State& s, const orrelind_case& c, unsigned w, unsigned h) {
  const auto& cycle = c.opaque ? opaque_cycle(w, h) : bench::input_cycle(w, h);
  const double baseline = bench::memcpy_seconds(w, h);
  testhost::instance inst = bench::plugin("Orrelind").construct(w, h);
  for (const auto& [index, value] : c.ps) inst.set(index, value);
  std::vector<testhost::frame> work;
  if (c.in_place) work = cycle;
  testhost::frame out(cycle[0].size());
  int k = 0;
  auto update = [&] {
    if (c.moving >= 0) inst.set(c.moving, moving_value(c, k));
    if (c.in_place)
      inst.update(0.0, work[k % bench::CYCLE].data(), work[k % bench::CYCLE].data());
    else
      inst.update(0.0, cycle[k % bench::CYCLE].data(), out.data());
    benchmark::ClobberMemory();
    ++k;
  };
  for (int warm = 0; warm < 2 * bench::CYCLE; ++warm) update();
  double elapsed = 0.0;
  for (auto _ : s) {
    const auto start = std::chrono::steady_clock::now();
    update();
    elapsed += seconds_since(start);
  }
  const double per_frame = elapsed / double(s.iterations());
  s.counters["ms_frame"] = per_frame * 1e3;
  s.counters["x_memcpy"] = per_frame / baseline;
  s.counters["memcpy_ms"] = baseline * 1e3;
}

// After the timed loop: single updates of the same setting (moving as in
// the loop) alternating with floor passes and, for a moving case, with
// updates of the setting held still (from its map), so that all meet the
// same conditions on a shared machine. x_floor is the mean time per frame
// over the median floor pass, x_floor_best the best single frame over the
// best floor pass; x_still the median CPU time of a moving update over
// that of a still one, x_still_best the best over the best.
void run(benchmark::State& s, const orrelind_case& c) {
  const unsigned w = unsigned(s.range(0)), h = unsigned(s.range(1));
  if (c.opaque || c.moving >= 0)
    run_timed(s, c, w, h);
  else
    bench::run_effect(s, "Orrelind", w, h, c.ps, c.in_place);
  const warped_pixels px = find_warped(w, h, c.ps);
  if (px.theta.empty()) return;

  testhost::instance inst = bench::plugin("Orrelind").construct(w, h);
  for (const auto& [index, value] : c.ps) inst.set(index, value);
  const auto& cycle = c.opaque ? opaque_cycle(w, h) : bench::input_cycle(w, h);
  std::vector<testhost::frame> work;
  if (c.in_place) work = cycle;
  testhost::frame out(cycle[0].size());
  std::vector<double> floors, floors_cpu, frames_cpu, stills_cpu;
  double best_frame = 1e30, best_still = 1e30;
  testhost::instance still;
  if (c.moving >= 0) {
    still = bench::plugin("Orrelind").construct(w, h);
    for (const auto& [index, value] : c.ps) still.set(index, value);
    // The second update builds the map; from the third on it is read.
    for (int k = 0; k < 3; ++k) still.update(0.0, cycle[k % bench::CYCLE].data(), out.data());
  }
  for (int k = 0; k < 9; ++k) {
    if (c.moving >= 0) {
      const double cpu_start = cpu_seconds();
      const auto start = std::chrono::steady_clock::now();
      still.update(0.0, cycle[(k + 3) % bench::CYCLE].data(), out.data());
      benchmark::ClobberMemory();
      best_still = std::min(best_still, seconds_since(start));
      stills_cpu.push_back(cpu_seconds() - cpu_start);
    }
    if (c.moving >= 0) inst.set(c.moving, moving_value(c, k + 1));
    const double cpu_start = cpu_seconds();
    const auto start = std::chrono::steady_clock::now();
    if (c.in_place)
      inst.update(0.0, work[k % bench::CYCLE].data(), work[k % bench::CYCLE].data());
    else
      inst.update(0.0, cycle[k % bench::CYCLE].data(), out.data());
    benchmark::ClobberMemory();
    // A still case builds the map on its second update; the rest reuse it.
    if (c.moving >= 0 || k > 1) {
      best_frame = std::min(best_frame, seconds_since(start));
      frames_cpu.push_back(cpu_seconds() - cpu_start);
    }
    const pass_time f = floor_pass(px);
    floors.push_back(f.wall);
    floors_cpu.push_back(f.cpu);
  }
  std::sort(floors.begin(), floors.end());
  std::sort(floors_cpu.begin(), floors_cpu.end());
  std::sort(frames_cpu.begin(), frames_cpu.end());
  const double median_floor = floors[floors.size() / 2];
  s.counters["floor_ms"] = median_floor * 1e3;
  s.counters["x_floor"] = s.counters["ms_frame"].value / (median_floor * 1e3);
  s.counters["x_floor_best"] = best_frame / floors[0];
  // Medians of CPU times, single updates against floor passes.
  s.counters["x_floor_cpu"] = frames_cpu[frames_cpu.size() / 2] / floors_cpu[floors_cpu.size() / 2];
  if (c.moving >= 0) {
    std::sort(stills_cpu.begin(), stills_cpu.end());
    s.counters["x_still"] = frames_cpu[frames_cpu.size() / 2] / stills_cpu[stills_cpu.size() / 2];
    s.counters["x_still_best"] = best_frame / best_still;
  }
}

const params still_whirl_r05 = {{WHIRL, 0.75}, {RADIUS, 0.5}};
const params still_whirl_r10 = {{WHIRL, 0.75}, {RADIUS, 1.0}};

void orrelind_defaults(benchmark::State& s) { run(s, {{}}); }
void orrelind_defaults_in_place(benchmark::State& s) { run(s, {{}, true}); }
void orrelind_defaults_opaque(benchmark::State& s) { run(s, {{}, false, true}); }
// Radius x the shorter side below half a pixel at both sizes.
void orrelind_radius_below_half(benchmark::State& s) {
  run(s, {{{WHIRL, 0.75}, {PINCH, 0.6}, {RADIUS, 0.0002}}});
}
// Whirl 0.75 (+360 degrees) alone, as in the GStreamer measurement.
void orrelind_still_whirl_r05(benchmark::State& s) { run(s, {still_whirl_r05}); }
void orrelind_still_whirl_r05_opaque(benchmark::State& s) {
  run(s, {still_whirl_r05, false, true});
}
void orrelind_still_whirl_r10(benchmark::State& s) { run(s, {still_whirl_r10}); }
void orrelind_still_whirl_r10_opaque(benchmark::State& s) {
  run(s, {still_whirl_r10, false, true});
}
void orrelind_moving_whirl_r05(benchmark::State& s) {
  run(s, {still_whirl_r05, false, false, WHIRL});
}
void orrelind_moving_whirl_r05_opaque(benchmark::State& s) {
  run(s, {still_whirl_r05, false, true, WHIRL});
}
void orrelind_moving_whirl_r10(benchmark::State& s) {
  run(s, {still_whirl_r10, false, false, WHIRL});
}
void orrelind_moving_whirl_r10_opaque(benchmark::State& s) {
  run(s, {still_whirl_r10, false, true, WHIRL});
}
// Every quantity moves: the distance and the angle of every pixel too.
void orrelind_moving_centre_r05(benchmark::State& s) {
  run(s, {still_whirl_r05, false, false, CENTER_X});
}
void orrelind_moving_centre_r05_opaque(benchmark::State& s) {
  run(s, {still_whirl_r05, false, true, CENTER_X});
}
void orrelind_moving_centre_r10(benchmark::State& s) {
  run(s, {still_whirl_r10, false, false, CENTER_X});
}
// Pinch moving under a still whirl: the angle of every pixel stays.
void orrelind_moving_pinch_r05(benchmark::State& s) {
  run(s, {{{WHIRL, 0.75}, {PINCH, 0.6}, {RADIUS, 0.5}}, false, false, PINCH});
}
void orrelind_whirl_pinch_r05(benchmark::State& s) {
  run(s, {{{WHIRL, 0.75}, {PINCH, 0.6}, {RADIUS, 0.5}}});
}
void orrelind_whirl_pinch_r10(benchmark::State& s) {
  run(s, {{{WHIRL, 0.75}, {PINCH, 0.6}, {RADIUS, 1.0}}});
}
void orrelind_pinch_only(benchmark::State& s) { run(s, {{{PINCH, 0.75}, {RADIUS, 0.5}}}); }
void orrelind_whirl_pinch_r05_in_place(benchmark::State& s) {
  run(s, {{{WHIRL, 0.75}, {PINCH, 0.6}, {RADIUS, 0.5}}, true});
}
// A small circle in a corner: almost all of the frame is block copies.
void orrelind_small_corner_circle(benchmark::State& s) {
  run(s, {{{WHIRL, 0.9}, {RADIUS, 0.05}, {CENTER_X, 0.1}, {CENTER_Y, 0.2}}});
}

BENCHMARK(orrelind_defaults) EFFECTS_BENCH_SIZES->Unit(benchmark::kMillisecond);
BENCHMARK(orrelind_defaults_in_place) EFFECTS_BENCH_SIZES->Unit(benchmark::kMillisecond);
BENCHMARK(orrelind_radius_below_half) EFFECTS_BENCH_SIZES->Unit(benchmark::kMillisecond);
BENCHMARK(orrelind_defaults_opaque) EFFECTS_BENCH_SIZES->Unit(benchmark::kMillisecond);
BENCHMARK(orrelind_still_whirl_r05) EFFECTS_BENCH_SIZES->Unit(benchmark::kMillisecond);
BENCHMARK(orrelind_still_whirl_r05_opaque) EFFECTS_BENCH_SIZES->Unit(benchmark::kMillisecond);
BENCHMARK(orrelind_still_whirl_r10) EFFECTS_BENCH_SIZES->Unit(benchmark::kMillisecond);
BENCHMARK(orrelind_still_whirl_r10_opaque) EFFECTS_BENCH_SIZES->Unit(benchmark::kMillisecond);
BENCHMARK(orrelind_moving_whirl_r05) EFFECTS_BENCH_SIZES->Unit(benchmark::kMillisecond);
BENCHMARK(orrelind_moving_whirl_r05_opaque) EFFECTS_BENCH_SIZES->Unit(benchmark::kMillisecond);
BENCHMARK(orrelind_moving_whirl_r10) EFFECTS_BENCH_SIZES->Unit(benchmark::kMillisecond);
BENCHMARK(orrelind_moving_whirl_r10_opaque) EFFECTS_BENCH_SIZES->Unit(benchmark::kMillisecond);
BENCHMARK(orrelind_moving_centre_r05) EFFECTS_BENCH_SIZES->Unit(benchmark::kMillisecond);
BENCHMARK(orrelind_moving_centre_r05_opaque) EFFECTS_BENCH_SIZES->Unit(benchmark::kMillisecond);
BENCHMARK(orrelind_moving_centre_r10) EFFECTS_BENCH_SIZES->Unit(benchmark::kMillisecond);
BENCHMARK(orrelind_moving_pinch_r05) EFFECTS_BENCH_SIZES->Unit(benchmark::kMillisecond);
BENCHMARK(orrelind_whirl_pinch_r05) EFFECTS_BENCH_SIZES->Unit(benchmark::kMillisecond);
BENCHMARK(orrelind_whirl_pinch_r10) EFFECTS_BENCH_SIZES->Unit(benchmark::kMillisecond);
BENCHMARK(orrelind_pinch_only) EFFECTS_BENCH_SIZES->Unit(benchmark::kMillisecond);
BENCHMARK(orrelind_whirl_pinch_r05_in_place) EFFECTS_BENCH_SIZES->Unit(benchmark::kMillisecond);
BENCHMARK(orrelind_small_corner_circle) EFFECTS_BENCH_SIZES->Unit(benchmark::kMillisecond);

}  // namespace
