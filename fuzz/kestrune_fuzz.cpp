// kestrune under the generic driver: frame sizes up to 64 x 64, arbitrary
// doubles for the five doubles and the boolean (NaN and infinities
// included), arbitrary and NaN times, twin instances updated in place and
// with separate buffers, f0r_update2 among the updates. Before that,
// f0r_update2 with second and third inputs that differ from each other and
// from the first must give f0r_update's bytes, over a few frames of history.
#include <cstring>
#include <memory>

#include "fuzz_driver.h"
#include "plugin_host.h"

namespace {

// Every construction reserves the 1 GiB history, which is slow under the
// sanitizers; the pair is kept while the size stays the same, and each input
// starts far before the last one, which empties both histories.
struct twins {
  unsigned width = 0, height = 0;
  testhost::instance one, two;
  double start = 0.0;
};

void update2_against_update(const uint8_t* data, size_t size) {
  static const auto p =
      std::make_unique<testhost::plugin>(testhost::plugin_path("kestrune"));
  static twins t;
  const unsigned w = 1 + (size > 0 ? data[0] % 64 : 0);
  const unsigned h = 1 + (size > 1 ? data[1] % 64 : 0);
  if (w != t.width || h != t.height) {
    t.one = p->construct(w, h);
    t.two = p->construct(w, h);
    t.width = w;
    t.height = h;
  }
  if (!t.one.valid() || !t.two.valid()) __builtin_trap();
  const double defaults[6] = {0.1, 0.0, 0.5, 0.0, 0.0, 0.0};
  for (int i = 0; i < 6; ++i) {
    double v = defaults[i];
    if (size >= 8 * size_t(i + 1) + 2) std::memcpy(&v, data + 2 + 8 * i, sizeof v);
    t.one.set(i, v);
    t.two.set(i, v);
  }
  t.start -= 1000.0;
  const auto update2 = p->f0r().update2;
  testhost::frame out(t.one.pixel_count());
  for (uint32_t f = 0; f < 4; ++f) {
    const uint64_t seed = (size > 50 ? data[50] : 0) * 16 + f;
    const testhost::frame in = testhost::random_frame(t.one.pixel_count(), seed);
    const testhost::frame second = testhost::random_frame(t.one.pixel_count(), ~seed);
    const testhost::frame third(t.one.pixel_count(), 0xFFFFFFFFu - f);
    const double now = t.start + f * 0.01;
    const testhost::frame expected = t.one.update(now, in);
    update2(t.two.handle(), now, in.data(), second.data(), third.data(), out.data());
    if (out != expected) __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  update2_against_update(data, size);
  return fuzzing::run_plugin("kestrune", data, size);
}
