// Orrelind under the generic driver: frame sizes up to 64 x 64, arbitrary
// doubles for the five parameters (NaN and infinities included), twin
// instances updated in place and with separate buffers. Before that, the
// null arguments the update must ignore: a null instance, input or output
// leaves the output frame as it was.
#include <cstring>
#include <memory>

#include "fuzz_driver.h"
#include "plugin_host.h"

namespace {

void null_arguments(const uint8_t* data, size_t size) {
  static const auto p = std::make_unique<testhost::plugin>(testhost::plugin_path("Orrelind"));
  const unsigned w = 1 + (size > 0 ? data[0] % 64 : 0);
  const unsigned h = 1 + (size > 1 ? data[1] % 64 : 0);
  testhost::instance inst = p->construct(w, h);
  if (!inst.valid()) __builtin_trap();
  for (size_t i = 0; i < 5 && size >= 8 * (i + 1) + 2; ++i) {
    double v;
    std::memcpy(&v, data + 2 + 8 * i, sizeof v);
    inst.set(int(i), v);
  }
  const testhost::frame in = testhost::random_frame(inst.pixel_count(), w * 64 + h);
  const testhost::frame before(inst.pixel_count(), 0x5A5A5A5Au);
  testhost::frame out = before;
  const auto update = p->f0r().update;
  update(nullptr, 0.0, in.data(), out.data());
  update(inst.handle(), 0.0, nullptr, out.data());
  update(inst.handle(), 0.0, in.data(), nullptr);
  update(inst.handle(), 0.0, nullptr, nullptr);
  if (out != before) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  null_arguments(data, size);
  return fuzzing::run_plugin("Orrelind", data, size);
}
