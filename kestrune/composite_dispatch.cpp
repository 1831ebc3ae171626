// The choice of kestrune's kernel set, once, while the library loads, and
// the per-update choice between a mode's integer form and its doubles.
#include <cstring>

#include "composite_dispatch.h"

namespace kestrune_composite {

extern const kernel_set* const kernel_sets[4] = {
    &portable_kernels,
#if defined(EFFECTS_SSE2)
    &sse2_kernels,
#elif defined(EFFECTS_NEON)
    &neon_kernels,
#else
    nullptr,
#endif
#if defined(EFFECTS_AVX2)
    &avx2_kernels,
#else
    nullptr,
#endif
#if defined(EFFECTS_AVX512)
    &avx512_kernels,
#else
    nullptr,
#endif
};

namespace {

const kernel_set& active_kernels = effects::pick(kernel_sets);

uint64_t bits_of(double x) {
  uint64_t bits;
  std::memcpy(&bits, &x, sizeof bits);
  return bits;
}

}  // namespace

void composite(job& work, fit_cache& cache) {
  const int mode = static_cast<int>(work.mode);
  const bool threshold = work.level > 0;
  fit_cache::entry& made = cache.by_mode[mode];
  const uint64_t gain_bits = bits_of(work.gain);
  const uint64_t opacity_bits =
      work.mode == mode_kind::negative_overlay ? bits_of(work.opacity) : 0;
  if (!made.made || gain_bits != made.gain_bits || opacity_bits != made.opacity_bits) {
    active_kernels.fit[mode](work, made.fit);
    made.gain_bits = gain_bits;
    made.opacity_bits = opacity_bits;
    made.made = true;
  }
  work.fit = &made.fit;
  const kernel_set& k = active_kernels;
  (made.fit.usable ? k.fitted : k.exact)[mode][work.monochrome][threshold](work, 0);
}

const kernel_set& kernels() { return active_kernels; }

}  // namespace kestrune_composite
