#include "bench_common.h"

namespace {

constexpr int DELAY = 0;
constexpr int SIMPLE = 1;

void vestrale_smooth_delay1(benchmark::State& s) {
  bench::run_effect(s, "vestrale", s.range(0), s.range(1), {{DELAY, 0.0}}, false);
}
void vestrale_smooth_delay16(benchmark::State& s) {
  bench::run_effect(s, "vestrale", s.range(0), s.range(1), {{DELAY, 1.0}}, false);
}
void vestrale_simple(benchmark::State& s) {
  bench::run_effect(s, "vestrale", s.range(0), s.range(1), {{DELAY, 0.2}, {SIMPLE, 1.0}}, false);
}
void vestrale_smooth_in_place(benchmark::State& s) {
  bench::run_effect(s, "vestrale", s.range(0), s.range(1), {{DELAY, 0.5}}, true);
}
void vestrale_simple_in_place(benchmark::State& s) {
  bench::run_effect(s, "vestrale", s.range(0), s.range(1), {{DELAY, 0.2}, {SIMPLE, 1.0}}, true);
}

BENCHMARK(vestrale_smooth_delay1) EFFECTS_BENCH_SIZES->Unit(benchmark::kMillisecond);
BENCHMARK(vestrale_smooth_delay16) EFFECTS_BENCH_SIZES->Unit(benchmark::kMillisecond);
BENCHMARK(vestrale_simple) EFFECTS_BENCH_SIZES->Unit(benchmark::kMillisecond);
BENCHMARK(vestrale_smooth_in_place) EFFECTS_BENCH_SIZES->Unit(benchmark::kMillisecond);
BENCHMARK(vestrale_simple_in_place) EFFECTS_BENCH_SIZES->Unit(benchmark::kMillisecond);

}  // namespace
