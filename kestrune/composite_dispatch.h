// kestrune's kernel set: the per-pixel half of an update, one pass that
// stores the input frame into its history slot and composites it with the
// reference frame.
//
// The kernels are written once over a small adapter per instruction set:
// portable C++ (composite_portable.cpp, any processor), SSE2, AVX2 and
// AVX-512 on x86-64, NEON on little-endian aarch64. Their body is
// composite_body.h, over the exact formulas in doubles (composite_exact.h)
// and the integer form that reaches the same bytes faster
// (composite_fitted.h). Every set gives the same bytes. The set is chosen
// once, when the library loads (composite_dispatch.cpp).
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/byte_order.h"
#include "common/isa.h"

namespace kestrune_composite {

enum class mode_kind { negative_overlay = 0, absolute_difference = 1, motion_mask = 2 };

// The kernels see a pixel as a 32-bit word with byte k (red, green, blue,
// alpha) at bits 8k (effects::pixel_word).

// A mode's integer form (see composite_fitted.h for what it promises). For
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

// Each set this build has; the vector sets finish a frame's last partial
// block with the portable one.
extern const kernel_set portable_kernels;
#if defined(EFFECTS_SSE2)
extern const kernel_set sse2_kernels;
#endif
#if defined(EFFECTS_AVX2)
extern const kernel_set avx2_kernels;
#endif
#if defined(EFFECTS_AVX512)
extern const kernel_set avx512_kernels;
#endif
#if defined(EFFECTS_NEON)
extern const kernel_set neon_kernels;
#endif

// The set of each level this build has (null where it has none), and the
// one for this processor, chosen when the library loaded.
extern const kernel_set* const kernel_sets[4];
const kernel_set& kernels();

}  // namespace kestrune_composite
