// The plain compositing and the choice of SIMD kernel.
#include "composite.h"

namespace kestrune_composite {
namespace {

inline uint32_t channel(uint32_t p, int k) { return (p >> (8 * k)) & 0xFFu; }

// Byte rounding: 0 at or below 0, 255 at or above 255, else x + 0.5
// truncated. The values here are always finite; a NaN would give 0.
inline uint32_t to_byte(double x) {
  if (!(x > 0.0)) return 0;
  if (x >= 255.0) return 255;
  return static_cast<uint32_t>(x + 0.5);
}

inline int32_t luma(uint32_t p) {
  return static_cast<int32_t>(
      (299 * channel(p, 0) + 587 * channel(p, 1) + 114 * channel(p, 2) + 500) /
      1000);
}

inline int32_t magnitude(int32_t d) { return d < 0 ? -d : d; }

uint32_t composite_pixel(uint32_t cur, uint32_t ref, const job& work) {
  int32_t v[3];
  int32_t d[3];
  if (work.monochrome) {
    const int32_t lc = luma(cur);
    const int32_t diff = lc - luma(ref);
    for (int k = 0; k < 3; ++k) {
      v[k] = lc;
      d[k] = diff;
    }
  } else {
    for (int k = 0; k < 3; ++k) {
      v[k] = static_cast<int32_t>(channel(cur, k));
      d[k] = v[k] - static_cast<int32_t>(channel(ref, k));
    }
  }
  int32_t m = magnitude(d[0]);
  if (magnitude(d[1]) > m) m = magnitude(d[1]);
  if (magnitude(d[2]) > m) m = magnitude(d[2]);
  if (m < work.level) {
    d[0] = d[1] = d[2] = 0;
    m = 0;
  }
  const uint32_t alpha = cur >> 24;
  uint32_t out = 0;
  switch (work.mode) {
    case mode_kind::negative_overlay:
      for (int k = 0; k < 3; ++k) {
        const double x =
            (v[k] * work.inverse_opacity) +
            ((d[k] * work.gain + static_cast<double>(255 - v[k])) *
             work.opacity);
        out |= to_byte(x) << (8 * k);
      }
      return out | (alpha << 24);
    case mode_kind::absolute_difference:
      for (int k = 0; k < 3; ++k)
        out |= to_byte(magnitude(d[k]) * work.gain) << (8 * k);
      return out | (alpha << 24);
    case mode_kind::motion_mask:
      for (int k = 0; k < 3; ++k) out |= static_cast<uint32_t>(v[k]) << (8 * k);
      return out | (to_byte((alpha * (m * work.gain)) / 255.0) << 24);
  }
  return out;
}

// Highest instruction set the kernels may use: 1 SSE2, 2 AVX2, 3 AVX-512.
// Test builds lower it to check every variant on one machine.
#ifndef EFFECTS_ISA_LIMIT
#define EFFECTS_ISA_LIMIT 3
#endif

const kernel_set* choose_kernels() {
  __builtin_cpu_init();
  if (EFFECTS_ISA_LIMIT >= 3 && __builtin_cpu_supports("avx512f") &&
      __builtin_cpu_supports("avx512bw"))
    return &avx512_kernels;
  if (EFFECTS_ISA_LIMIT >= 2 && __builtin_cpu_supports("avx2"))
    return &avx2_kernels;
  return &sse2_kernels;
}

const kernel_set* const active_kernels = choose_kernels();

}  // namespace

void composite_plain(const job& work, size_t first) {
  for (size_t i = first; i < work.pixels; ++i) {
    const uint32_t cur = work.in[i];
    work.current[i] = cur;
    work.out[i] = composite_pixel(cur, work.reference[i], work);
  }
}

kernel select_kernel(mode_kind mode, bool monochrome, bool threshold) {
  return active_kernels->by_mode[static_cast<int>(mode)][monochrome][threshold];
}

}  // namespace kestrune_composite
