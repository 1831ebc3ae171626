// Orrelind's kernel set: the alpha-weighted bilinear resampling, the
// per-pixel half of an update. Given the source point of each output pixel
// (sx, sy, already clamped into the frame), it fetches the four neighbours
// and interpolates.
//
// The formulas are written once, in orrelind_resample_body.h, over a small
// adapter per instruction set (portable C++, SSE2, AVX2, AVX-512, NEON); every
// adapter gives the bytes of the portable one. The set is chosen once, when
// the library loads (orrelind_dispatch.cpp).
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/byte_order.h"
#include "common/isa.h"

// The frame that all pixel reads of one update come from.
struct orrelind_source_frame {
  const uint32_t* pixels;
  uint32_t width;
  uint32_t height;
};

// Writes dst[i] for i < n: the source resampled at (sx[i], sy[i]), each
// point within 0..width - 1 by 0..height - 1.
using orrelind_resample_fn = void (*)(const orrelind_source_frame& src, const double* sx,
                                      const double* sy, size_t n, uint32_t* dst);

struct orrelind_kernel_set {
  // For frames of fewer than 2^31 pixels and at least two columns: the
  // widest adapters index their lanes in 32 bits and read the two
  // neighbours of a row as one.
  orrelind_resample_fn resample;
  // For any frame: indexes in 64 bits and reads every neighbour on its own.
  orrelind_resample_fn resample_any_size;
};

// The resampling of each adapter this build has.
void orrelind_resample_portable(const orrelind_source_frame& src, const double* sx,
                                const double* sy, size_t n, uint32_t* dst);
#if defined(EFFECTS_SSE2)
void orrelind_resample_sse2(const orrelind_source_frame& src, const double* sx, const double* sy,
                            size_t n, uint32_t* dst);
#endif
#if defined(EFFECTS_AVX2)
void orrelind_resample_avx2(const orrelind_source_frame& src, const double* sx, const double* sy,
                            size_t n, uint32_t* dst);
#endif
#if defined(EFFECTS_AVX512)
void orrelind_resample_avx512(const orrelind_source_frame& src, const double* sx, const double* sy,
                              size_t n, uint32_t* dst);
#endif
#if defined(EFFECTS_NEON)
void orrelind_resample_neon(const orrelind_source_frame& src, const double* sx, const double* sy,
                            size_t n, uint32_t* dst);
#endif

// The set of each level this build has (null where it has none), and the
// one for this processor, chosen when the library loaded.
extern const orrelind_kernel_set* const orrelind_kernel_sets[4];
const orrelind_kernel_set& orrelind_kernels();

// The resampling for frames of this size.
inline orrelind_resample_fn orrelind_resampler(uint32_t width, uint64_t pixel_count) {
  const orrelind_kernel_set& k = orrelind_kernels();
  return width >= 2 && pixel_count < (uint64_t(1) << 31) ? k.resample : k.resample_any_size;
}
