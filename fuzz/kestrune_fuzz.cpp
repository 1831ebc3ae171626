// kestrune under the generic driver: frame sizes up to 64 x 64, arbitrary
// doubles for the five doubles and the boolean (NaN and infinities
// included), arbitrary and NaN times, twin instances updated in place and
// with separate buffers, f0r_update2 with second and third inputs that
// differ from the first among the updates.
//
// The fuzz build gives the plug-in a history budget of 64 KiB instead of
// 1 GiB (fuzz/CMakeLists.txt), so that constructing the twins for every
// input costs next to nothing; a 64 x 64 frame then leaves room for 3
// frames, so inputs reach the full history as well.
#include "fuzz_driver.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzzing::run_plugin("kestrune", data, size);
}
