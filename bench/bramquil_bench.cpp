#include "bench_common.h"

namespace {

constexpr int MODE = 0;
constexpr int VERTICAL = 2;
constexpr int WIDTH = 3;
constexpr int REVERSE = 4;
constexpr int DEPTH = 5;
constexpr int FADE = 6;

// Every iteration advances the time, so each update captures a band.
void bramquil_scan_columns(benchmark::State& s) {
  bench::run_effect(s, "bramquil", s.range(0), s.range(1), {{VERTICAL, 1.0}}, false);
}
void bramquil_scan_columns_wide(benchmark::State& s) {
  bench::run_effect(s, "bramquil", s.range(0), s.range(1), {{VERTICAL, 1.0}, {WIDTH, 1.0}}, false);
}
void bramquil_scan_rows(benchmark::State& s) {
  bench::run_effect(s, "bramquil", s.range(0), s.range(1), {{VERTICAL, 0.0}}, false);
}
void bramquil_scan_rows_wide(benchmark::State& s) {
  bench::run_effect(s, "bramquil", s.range(0), s.range(1), {{VERTICAL, 0.0}, {WIDTH, 1.0}}, false);
}
void bramquil_scan_rows_reverse(benchmark::State& s) {
  bench::run_effect(s, "bramquil", s.range(0), s.range(1), {{VERTICAL, 0.0}, {REVERSE, 1.0}},
                    false);
}
void bramquil_stargate_columns(benchmark::State& s) {
  bench::run_effect(s, "bramquil", s.range(0), s.range(1), {{MODE, 1.0}, {VERTICAL, 1.0}}, false);
}
void bramquil_stargate_rows(benchmark::State& s) {
  bench::run_effect(s, "bramquil", s.range(0), s.range(1), {{MODE, 1.0}, {VERTICAL, 0.0}}, false);
}
void bramquil_stargate_columns_reverse(benchmark::State& s) {
  bench::run_effect(s, "bramquil", s.range(0), s.range(1),
                    {{MODE, 1.0}, {VERTICAL, 1.0}, {REVERSE, 1.0}}, false);
}
// A Depth or Fade that changes a little before every update, as a keyframed
// one does: nothing kept from the previous update is of use for Depth; the
// positions along the slits still are for Fade.
void bramquil_stargate_columns_depth_moving(benchmark::State& s) {
  bench::run_effect(s, "bramquil", s.range(0), s.range(1), {{MODE, 1.0}, {VERTICAL, 1.0}}, false,
                    0.04, {DEPTH, 0.25, 1e-5});
}
void bramquil_stargate_rows_depth_moving(benchmark::State& s) {
  bench::run_effect(s, "bramquil", s.range(0), s.range(1), {{MODE, 1.0}, {VERTICAL, 0.0}}, false,
                    0.04, {DEPTH, 0.25, 1e-5});
}
void bramquil_stargate_columns_fade_moving(benchmark::State& s) {
  bench::run_effect(s, "bramquil", s.range(0), s.range(1), {{MODE, 1.0}, {VERTICAL, 1.0}}, false,
                    0.04, {FADE, 0.9, 1e-5});
}
void bramquil_scan_columns_in_place(benchmark::State& s) {
  bench::run_effect(s, "bramquil", s.range(0), s.range(1), {{VERTICAL, 1.0}}, true);
}
void bramquil_scan_rows_in_place(benchmark::State& s) {
  bench::run_effect(s, "bramquil", s.range(0), s.range(1), {{VERTICAL, 0.0}}, true);
}
void bramquil_stargate_columns_in_place(benchmark::State& s) {
  bench::run_effect(s, "bramquil", s.range(0), s.range(1), {{MODE, 1.0}, {VERTICAL, 1.0}}, true);
}

BENCHMARK(bramquil_scan_columns) EFFECTS_BENCH_SIZES->Unit(benchmark::kMillisecond);
BENCHMARK(bramquil_scan_columns_wide) EFFECTS_BENCH_SIZES->Unit(benchmark::kMillisecond);
BENCHMARK(bramquil_scan_rows) EFFECTS_BENCH_SIZES->Unit(benchmark::kMillisecond);
BENCHMARK(bramquil_scan_rows_wide) EFFECTS_BENCH_SIZES->Unit(benchmark::kMillisecond);
BENCHMARK(bramquil_scan_rows_reverse) EFFECTS_BENCH_SIZES->Unit(benchmark::kMillisecond);
BENCHMARK(bramquil_stargate_columns) EFFECTS_BENCH_SIZES->Unit(benchmark::kMillisecond);
BENCHMARK(bramquil_stargate_rows) EFFECTS_BENCH_SIZES->Unit(benchmark::kMillisecond);
BENCHMARK(bramquil_stargate_columns_reverse) EFFECTS_BENCH_SIZES->Unit(benchmark::kMillisecond);
BENCHMARK(bramquil_stargate_columns_depth_moving)
EFFECTS_BENCH_SIZES->Unit(benchmark::kMillisecond);
BENCHMARK(bramquil_stargate_rows_depth_moving) EFFECTS_BENCH_SIZES->Unit(benchmark::kMillisecond);
BENCHMARK(bramquil_stargate_columns_fade_moving) EFFECTS_BENCH_SIZES->Unit(benchmark::kMillisecond);
BENCHMARK(bramquil_scan_columns_in_place) EFFECTS_BENCH_SIZES->Unit(benchmark::kMillisecond);
BENCHMARK(bramquil_scan_rows_in_place) EFFECTS_BENCH_SIZES->Unit(benchmark::kMillisecond);
BENCHMARK(bramquil_stargate_columns_in_place) EFFECTS_BENCH_SIZES->Unit(benchmark::kMillisecond);

}  // namespace
