// The choice of kernels, once when the library loads, and the per-update
// choice between a mode's integer form and its doubles.
#include <cstring>

#include "composite.h"

namespace kestrune_composite {
namespace {

// The highest level that this build has and this processor runs.
const kernel_set* choose_kernels() {
#if defined(__x86_64__) && EFFECTS_ISA_LIMIT >= 1
  __builtin_cpu_init();
#if EFFECTS_ISA_LIMIT >= 3
  if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw"))
    return &avx512_kernels;
#endif
#if EFFECTS_ISA_LIMIT >= 2
  if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) return &avx2_kernels;
#endif
  return &sse2_kernels;
#elif defined(__aarch64__) && defined(__ARM_NEON) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ && \
    EFFECTS_ISA_LIMIT >= 1
  return &neon_kernels;
#else
  return &portable_kernels;
#endif
}

const kernel_set* const active_kernels = choose_kernels();

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
    active_kernels->fit[mode](work, made.fit);
    made.gain_bits = gain_bits;
    made.opacity_bits = opacity_bits;
    made.made = true;
  }
  work.fit = &made.fit;
  (made.fit.usable ? active_kernels->fitted
                   : active_kernels->exact)[mode][work.monochrome][threshold](work, 0);
}

}  // namespace kestrune_composite
