// Alpha-weighted bilinear resampling, the per-pixel half of an Orrelind
// update: given the source point of each output pixel (sx, sy, already
// clamped into the frame), fetch its four neighbours and interpolate.
//
// The formulas are written once, in orrelind_resample_kernel.h, over a small
// adapter per instruction set (portable C++, SSE2, AVX2, AVX-512, NEON); every
// adapter gives the bytes of the portable one. The choice is made once, when
// the library loads.
#pragma once

#include <cstddef>
#include <cstdint>

// Highest instruction-set level the build may use: 0 portable C++ only, 1
// the baseline vector set (SSE2 on x86-64, NEON on aarch64), 2 AVX2, 3
// AVX-512. Test
// builds lower it to hold every path to the same bytes on one machine.
#ifndef EFFECTS_ISA_LIMIT
#define EFFECTS_ISA_LIMIT 3
#endif

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

// The resampler for frames of this size: the widest the processor and the
// build allow, except that the adapters with 32-bit lane indices give way,
// at 2^31 pixels or more and for frames one pixel wide, to one that indexes
// in 64 bits and reads every neighbour on its own.
orrelind_resample_fn orrelind_choose_resampler(uint32_t width, uint64_t pixel_count);

// One per adapter; null where the build or the target lacks it.
extern const orrelind_resample_fn orrelind_resample_portable;
extern const orrelind_resample_fn orrelind_resample_sse2;
extern const orrelind_resample_fn orrelind_resample_avx2;
extern const orrelind_resample_fn orrelind_resample_avx512;
extern const orrelind_resample_fn orrelind_resample_neon;
