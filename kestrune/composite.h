// The per-pixel half of a kestrune update: one pass that stores the input
// frame into its history slot and composites it with the reference frame.
//
// Every variant (the plain one below and the SIMD kernels) gives the same
// bytes: the doubles are computed with the same operations in the same
// order, and the integer parts are exact.
#pragma once

#include <cstddef>
#include <cstdint>

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "channel shifts assume byte 0 (red) is the low byte");

namespace kestrune_composite {

enum class mode_kind { negative_overlay = 0, absolute_difference = 1, motion_mask = 2 };

// One update's work. `current` is the history slot that receives a copy of
// `in`; `reference` may be that same slot (the frame is its own reference).
// `out` may be `in`: each output pixel is written after its input pixel is
// read, and depends on nothing else of the input.
struct job {
  const uint32_t* in;
  uint32_t* current;
  const uint32_t* reference;
  uint32_t* out;
  size_t pixels;
  mode_kind mode;
  bool monochrome;
  double gain;             // 1..16
  double opacity;          // 0..1
  double inverse_opacity;  // 1 - opacity
  int32_t level;           // 0..255; differences below it count as none
};

using kernel = void (*)(const job&);

// Indexed by mode, monochrome, threshold (level > 0).
struct kernel_set {
  kernel by_mode[3][2][2];
};

// The plain version, pixel by pixel, from pixel `first` on. The SIMD
// kernels finish their last partial block with it.
void composite_plain(const job& work, size_t first);

// The variant for this processor, chosen once when the library loads.
kernel select_kernel(mode_kind mode, bool monochrome, bool threshold);

extern const kernel_set sse2_kernels;
extern const kernel_set avx2_kernels;
extern const kernel_set avx512_kernels;

}  // namespace kestrune_composite
