// bramquil under the generic driver: frame sizes up to 64 x 64 (1 x N and
// N x 1 included), arbitrary doubles for the seven parameters, times that go
// forward, repeat, go back and are not numbers, twin instances updated in
// place and with separate buffers. Before that, a property only this effect
// has: in Scan mode a restart (the first update, and an earlier time) shows
// the input frame unchanged, whatever the other parameters are.
#include <cstring>
#include <memory>

#include "fuzz_driver.h"
#include "plugin_host.h"

namespace {

void restart_shows_the_input(const uint8_t* data, size_t size) {
  static const auto p = std::make_unique<testhost::plugin>(testhost::plugin_path("bramquil"));
  const unsigned w = 1 + (size > 0 ? data[0] % 64 : 0);
  const unsigned h = 1 + (size > 1 ? data[1] % 64 : 0);
  testhost::instance inst = p->construct(w, h);
  if (!inst.valid()) __builtin_trap();
  for (int i = 1; i < 7 && size >= size_t(8 * i + 2); ++i) {
    double v;
    std::memcpy(&v, data + 2 + 8 * (i - 1), sizeof v);
    inst.set(i, v);
  }
  inst.set(0, 0.0);  // Scan
  const testhost::frame first = testhost::random_frame(inst.pixel_count(), size);
  if (inst.update(1.0, first) != first) __builtin_trap();
  inst.update(2.0, testhost::random_frame(inst.pixel_count(), size + 1));
  const testhost::frame rewound = testhost::random_frame(inst.pixel_count(), size + 2);
  if (inst.update(0.5, rewound) != rewound) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  restart_shows_the_input(data, size);
  return fuzzing::run_plugin("bramquil", data, size);
}
