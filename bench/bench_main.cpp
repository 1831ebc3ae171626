#include <algorithm>
#include <chrono>
#include <cstring>
#include <map>
#include <memory>

#include "bench_common.h"

namespace bench {

namespace {

using clock_type = std::chrono::steady_clock;

double seconds_since(clock_type::time_point start) {
  return std::chrono::duration<double>(clock_type::now() - start).count();
}

}  // namespace

const std::vector<testhost::frame>& input_cycle(unsigned width, unsigned height) {
  static std::map<std::pair<unsigned, unsigned>, std::vector<testhost::frame>> cycles;
  auto& cycle = cycles[{width, height}];
  if (cycle.empty())
    for (int k = 0; k < CYCLE; ++k)
      cycle.push_back(testhost::random_frame(size_t(width) * height, k + 1));
  return cycle;
}

double memcpy_seconds(unsigned width, unsigned height) {
  static std::map<std::pair<unsigned, unsigned>, double> cache;
  auto found = cache.find({width, height});
  if (found != cache.end()) return found->second;
  const auto& cycle = input_cycle(width, height);
  const size_t bytes = cycle[0].size() * 4;
  testhost::frame out(cycle[0].size());
  std::vector<double> passes;
  for (int pass = 0; pass < 9; ++pass) {
    const auto start = clock_type::now();
    for (int k = 0; k < CYCLE; ++k) {
      std::memcpy(out.data(), cycle[k].data(), bytes);
      benchmark::ClobberMemory();
    }
    passes.push_back(seconds_since(start) / CYCLE);
  }
  std::nth_element(passes.begin(), passes.begin() + 4, passes.end());
  return cache[{width, height}] = passes[4];
}

const testhost::plugin& plugin(const std::string& name) {
  static std::map<std::string, std::unique_ptr<testhost::plugin>> loaded;
  auto& p = loaded[name];
  if (!p) p = std::make_unique<testhost::plugin>(testhost::plugin_path(name));
  return *p;
}

void run_effect(benchmark::State& state, const std::string& name, unsigned width, unsigned height,
                const std::vector<std::pair<int, double>>& params, bool in_place, double time_step,
                moving move) {
  const testhost::plugin& p = plugin(name);
  const auto& cycle = input_cycle(width, height);
  const double baseline = memcpy_seconds(width, height);
  testhost::instance inst = p.construct(width, height);
  if (!inst.valid()) {
    state.SkipWithError("construct failed");
    return;
  }
  for (const auto& [index, value] : params) inst.set(index, value);

  std::vector<testhost::frame> work;
  if (in_place) work = cycle;
  testhost::frame out(cycle[0].size());
  double time = 0.0;
  int k = 0;
  int moves = 0;
  const auto next_value = [&] {
    if (move.index >= 0) inst.set(move.index, move.value + move.step * (moves++ % 1024));
  };
  // Untimed updates first, enough to fill the deepest frame store of any
  // effect (33 frames), so neither first-update allocations nor the page
  // faults of first touching that memory are counted.
  for (int warm = 0; warm < 6 * CYCLE; ++warm, time += time_step) {
    next_value();
    inst.update(time, cycle[warm % CYCLE].data(), out.data());
  }

  double elapsed = 0.0;
  for (auto _ : state) {
    const auto start = clock_type::now();
    next_value();
    if (in_place)
      inst.update(time, work[k].data(), work[k].data());
    else
      inst.update(time, cycle[k].data(), out.data());
    benchmark::ClobberMemory();
    elapsed += seconds_since(start);
    time += time_step;
    k = (k + 1) % CYCLE;
  }
  const double per_frame = elapsed / double(state.iterations());
  state.counters["ms_frame"] = per_frame * 1e3;
  state.counters["x_memcpy"] = per_frame / baseline;
  state.counters["memcpy_ms"] = baseline * 1e3;
}

namespace {

void memcpy_frame(benchmark::State& state) {
  const unsigned w = unsigned(state.range(0)), h = unsigned(state.range(1));
  const auto& cycle = input_cycle(w, h);
  testhost::frame out(cycle[0].size());
  int k = 0;
  for (auto _ : state) {
    std::memcpy(out.data(), cycle[k].data(), out.size() * 4);
    benchmark::ClobberMemory();
    k = (k + 1) % CYCLE;
  }
  state.counters["x_memcpy"] = 1.0;
}
BENCHMARK(memcpy_frame) EFFECTS_BENCH_SIZES->Unit(benchmark::kMillisecond);

}  // namespace

}  // namespace bench

BENCHMARK_MAIN();
