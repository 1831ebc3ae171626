// vestrale's two passes over a frame, each written once in
// vestrale_kernel.h over a small adapter per instruction set
// (vestrale_portable.cpp, vestrale_sse2.cpp, vestrale_neon.cpp). They only
// move bytes, so every set gives the same bytes by construction.
#pragma once

#include <cstddef>
#include <cstdint>

// Highest instruction-set level the build may use: 0 portable C++ only,
// 1 the baseline vector set (SSE2, NEON). Test builds lower it to hold every
// path to the same bytes on one machine.
#ifndef EFFECTS_ISA_LIMIT
#define EFFECTS_ISA_LIMIT 3
#endif

// Mask of byte k of a pixel (0 R, 1 G, 2 B, 3 A in memory) loaded as a
// 32-bit word, on either byte order.
constexpr uint32_t vestrale_byte_mask(int k) {
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  return 0xFF000000u >> (8 * k);
#else
  return 0xFFu << (8 * k);
#endif
}

constexpr uint32_t vestrale_red = vestrale_byte_mask(0);
constexpr uint32_t vestrale_green = vestrale_byte_mask(1);
constexpr uint32_t vestrale_blue_alpha = vestrale_byte_mask(2) | vestrale_byte_mask(3);

struct vestrale_kernel_set {
  // comp = (comp & ~take) | (in & take); out = comp, for n pixels. out may
  // be in.
  void (*refresh)(uint32_t* comp, const uint32_t* in, uint32_t* out, uint64_t n, uint32_t take);
  // slot = in; out = red of r, green of g, blue and alpha of in, for n
  // pixels. r and g must not be slot (a caller whose lag is cut to nothing
  // passes in instead); in may be out. The slot is stored past the caches
  // where the processor can: it is read again only delay frames later, by
  // when a frame-sized write would have pushed it out anyway.
  void (*split)(const uint32_t* in, const uint32_t* r, const uint32_t* g, uint32_t* slot,
                uint32_t* out, uint64_t n);
};

extern const vestrale_kernel_set vestrale_portable_kernels;
#if defined(__x86_64__) && EFFECTS_ISA_LIMIT >= 1
#define VESTRALE_SSE2 1
extern const vestrale_kernel_set vestrale_sse2_kernels;
#endif
#if defined(__aarch64__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ && EFFECTS_ISA_LIMIT >= 1
#define VESTRALE_NEON 1
extern const vestrale_kernel_set vestrale_neon_kernels;
#endif

// The set for this processor. The baseline vector sets need no run-time
// check, so the choice is made when the library is built.
inline const vestrale_kernel_set& vestrale_kernels() {
#if defined(VESTRALE_SSE2)
  return vestrale_sse2_kernels;
#elif defined(VESTRALE_NEON)
  return vestrale_neon_kernels;
#else
  return vestrale_portable_kernels;
#endif
}
