// vestrale's kernel set: its two passes over a frame, each written once in
// vestrale_body.h over a small adapter per instruction set
// (vestrale_portable.cpp, vestrale_sse2.cpp, vestrale_neon.cpp), and the
// set chosen when the library loads (vestrale_dispatch.cpp). They only move
// bytes, so every set gives the same bytes by construction.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/byte_order.h"
#include "common/isa.h"

constexpr uint32_t vestrale_red = effects::byte_mask(0);
constexpr uint32_t vestrale_green = effects::byte_mask(1);
constexpr uint32_t vestrale_blue_alpha = effects::byte_mask(2) | effects::byte_mask(3);

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

// The set of each adapter; only those of the levels this build compiles
// exist.
extern const vestrale_kernel_set vestrale_portable_kernels, vestrale_sse2_kernels,
    vestrale_neon_kernels;

// The set of each level this build has (null where it has none), and the
// one for this processor, chosen when the library loaded.
extern const vestrale_kernel_set* const vestrale_kernel_sets[effects::level_count];
const vestrale_kernel_set& vestrale_kernels();
