// The per-pixel half of a kestrune update: one pass that stores the input
// frame into its history slot and composites it with the reference frame.
//
// The kernels are written once (composite_kernel.h) over a small adapter per
// instruction set: portable C++ (composite_portable.cpp, any processor),
// SSE2, AVX2 and AVX-512 on x86-64, NEON on little-endian aarch64. Every one
// gives the same bytes: the doubles are computed with the same operations in
// the same order, and the integer parts are exact.
#pragma once

#include <cstddef>
#include <cstdint>

// Highest instruction-set level the kernels may use: 0 portable C++ only,
// 1 the baseline vector set (SSE2, NEON), 2 AVX2, 3 AVX-512. Test builds
// lower it to check every variant on one machine.
#ifndef EFFECTS_ISA_LIMIT
#define EFFECTS_ISA_LIMIT 3
#endif

namespace kestrune_composite {

enum class mode_kind { negative_overlay = 0, absolute_difference = 1, motion_mask = 2 };

// The kernels see a pixel as a 32-bit word with byte k (red, green, blue,
// alpha) at bits 8k. On a little-endian machine that is the word as loaded;
// elsewhere its bytes are reversed on the way in and out.
constexpr uint32_t pixel_word(uint32_t x) {
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  return x;
#else
  return __builtin_bswap32(x);
#endif
}

// Every mode's computed byte in integers. For current value v and reference
// value r the overlay plus one half is
//   current_weight v + difference_weight (v - r) + offset
// in units of 2^-bits, and its integer part is the byte; the difference
// is the same with current_weight 0 and r 0, v being the magnitude. The
// mask's alpha for alpha a and magnitude m is
//   (a m) product_weight + ((a m) product_fraction) / 2^16 + offset,
// the two weights being one of 2^-34 split in two. Within
// `margin` units of a byte boundary the estimate may round the other way,
// and the pixel is computed in doubles instead; outside it, the estimate has
// been checked against the doubles for every value or pair of values.
// `usable` is false when so many values lie within the margin that the
// doubles alone are cheaper. `bits` is fit_bits for the difference and the
// mask; the overlay takes as many more (up to 24) as its magnitudes leave
// room for below 2^31, which narrows the margin in proportion.
constexpr int fit_bits = 18;
struct integer_fit {
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
  const integer_fit* fit;  // the mode's integer form, where it is used
};

// Composites pixels `first` on.
using kernel = void (*)(const job&, size_t first);

struct kernel_set {
  kernel exact[3][2][2];   // by mode, monochrome, threshold (level > 0)
  kernel fitted[3][2][2];  // by mode, monochrome, threshold, by the integer forms
  void (*fit[3])(const job&, integer_fit&);
};

// The integer forms an instance made last, with the gain and opacity each
// was made for: one is made again only when a value it depends on changes
// (the difference and the mask depend on the gain alone).
struct fit_cache {
  struct entry {
    uint64_t gain_bits = 0;
    uint64_t opacity_bits = 0;
    bool made = false;
    integer_fit fit{};
  };
  entry by_mode[3];
};

// One update's compositing with the kernels chosen for this processor when
// the library loaded; refreshes `cache` first when the mode needs it.
void composite(job& work, fit_cache& cache);

// Every set that this build has; the vector sets finish a frame's last
// partial block with the portable one.
extern const kernel_set portable_kernels;
extern const kernel_set sse2_kernels;
extern const kernel_set avx2_kernels;
extern const kernel_set avx512_kernels;
extern const kernel_set neon_kernels;

}  // namespace kestrune_composite
