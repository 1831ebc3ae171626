// The per-update choice between a mode's integer form and its doubles.
#include "kestrune_fit_cache.h"

#include <cstring>

namespace {

uint64_t bits_of(double x) {
  uint64_t bits;
  std::memcpy(&bits, &x, sizeof bits);
  return bits;
}

}  // namespace

void kestrune_composite(kestrune_job& work, kestrune_fit_cache& cache) {
  const kestrune_kernel_set& k = kestrune_kernels();
  const int mode = static_cast<int>(work.mode);
  const bool threshold = work.level > 0;
  kestrune_fit_cache::entry& made = cache.by_mode[mode];
  const uint64_t gain_bits = bits_of(work.gain);
  const uint64_t opacity_bits =
      work.mode == kestrune_mode::negative_overlay ? bits_of(work.opacity) : 0;
  if (!made.made || gain_bits != made.gain_bits || opacity_bits != made.opacity_bits) {
    k.fit[mode](work, made.fit);
    made.gain_bits = gain_bits;
    made.opacity_bits = opacity_bits;
    made.made = true;
  }
  work.fit = &made.fit;
  (made.fit.usable ? k.fitted : k.exact)[mode][work.monochrome][threshold](work, 0);
}
