// kestrune's kernel set: the per-pixel half of an update, one pass that
// stores the input frame into its history slot and composites it with the
// reference frame.
//
// The kernels are written once over a small adapter per instruction set:
// portable C++ (kestrune_portable.cpp, any processor), SSE2, AVX2 and
// AVX-512 on x86-64, NEON on little-endian aarch64. Their body is
// kestrune_body.h, over the exact formulas in doubles (kestrune_exact.h)
// and the integer form that reaches the same bytes faster
// (kestrune_fitted.h). Every set gives the same bytes. The set is chosen
// once, when the library loads (kestrune_dispatch.cpp).
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/byte_order.h"
#include "common/isa.h"


enum class kestrune_mode { negative_overlay = 0, absolute_difference = 1, motion_mask = 2 };

// The kernels see a pixel as a 32-bit word with byte k (red, green, blue,
// alpha) at bits 8k (effects::pixel_word).

// A mode's integer form (see kestrune_fitted.h for what it promises). For
// current value v and reference value r the overlay plus one half is
//   current_weight v + difference_weight (v - r) + offset
// in units of 2^-bits, and its integer part is the byte; the difference is
// the same with current_weight 0 and r 0, v being the magnitude. The mask's
// alpha for alpha a and magnitude m is
//   (a m) product_weight + ((a m) product_fraction) / 2^16 + offset,
// the two weights being one of 2^-34 split in two. `margin`: how close to a
// byte boundary an estimate is in doubt. `usable`: whether few enough values
// are in doubt for the form to be worth using. `bits` is fit_bits for the
// difference and the mask; the overlay takes as many more (up to 24) as its
// magnitudes leave room for below 2^31, which narrows the margin in
// proportion.
constexpr int kestrune_fit_bits = 18;
struct kestrune_integer_fit {
  int32_t bits;
  int32_t current_weight;
  int32_t difference_weight;
  int32_t product_weight;
  int32_t product_fraction;
  int32_t offset;
  int32_t margin;
  bool usable;
};

// One update's work. `current` is the history slot that receives a copy of
// `in`; `reference` may be that same slot (the frame is its own reference).
// `out` may be `in`: each output pixel is written after its input pixel is
// read, and depends on nothing else of the input.
struct kestrune_job {
  const uint32_t* in;
  uint32_t* current;
  const uint32_t* reference;
  uint32_t* out;
  size_t pixels;
  kestrune_mode mode;
  bool monochrome;
  double gain;             // 1..16
  double opacity;          // 0..1
  double inverse_opacity;  // 1 - opacity
  int32_t level;           // 0..255; differences below it count as none
  const kestrune_integer_fit* fit;  // the mode's integer form, where it is used
};

// Composites pixels `first` on.
using kestrune_kernel = void (*)(const kestrune_job&, size_t first);

struct kestrune_kernel_set {
  kestrune_kernel exact[3][2][2];   // by mode, monochrome, threshold (level > 0)
  kestrune_kernel fitted[3][2][2];  // by mode, monochrome, threshold, by the integer forms
  void (*fit[3])(const kestrune_job&, kestrune_integer_fit&);
};

// The set of each adapter; only those of the levels this build compiles
// exist. The vector sets finish a frame's last partial block with the
// portable one.
extern const kestrune_kernel_set kestrune_portable_kernels, kestrune_sse2_kernels,
    kestrune_avx2_kernels, kestrune_avx512_kernels, kestrune_neon_kernels;

// The set of each level this build has (null where it has none), and the
// one for this processor, chosen when the library loaded.
extern const kestrune_kernel_set* const kestrune_kernel_sets[effects::level_count];
const kestrune_kernel_set& kestrune_kernels();
