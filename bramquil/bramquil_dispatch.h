// bramquil's kernel set: moving columns between frames and the ring, and
// the Stargate run (positions along the slit, the ring reads, the fade).
// Each is written once, in bramquil_body.h, over a small adapter per
// instruction set (bramquil_portable.cpp, bramquil_sse2.cpp,
// bramquil_avx2.cpp, bramquil_neon.cpp); bramquil_kernels() names the set
// chosen when the library loaded (bramquil_dispatch.cpp).
//
// Every set gives the same bytes: the doubles are computed by the same
// operations in the same order, the integer parts are exact.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/byte_order.h"
#include "common/isa.h"

constexpr uint32_t bramquil_alpha_mask = effects::byte_mask(3);
// R = G = B = 0, A = 255.
constexpr uint32_t bramquil_black = bramquil_alpha_mask;

// A colour factor k that has no exact 24-bit integer form (see
// bramquil_kernel_set::sg_factor): its wall pixels are faded in doubles.
constexpr uint32_t bramquil_no_factor = 0xFFFFFFFFu;

// Stargate values fixed for one update, as the run needs them.
struct bramquil_sg_consts {
  double length;       // L, pixels per slit
  double along;        // S, the frame's extent along the slits
  double half_length;  // 0.5 × L
  double period;       // P = 2 × L, the period of the folded slit
  double inv_period;   // 1 / P, rounded
  double period_m1;    // P − 1
};

// One run of n wall pixels of an output row, out[0 … n − 1].
//
// Column slits: every pixel is its own column, with its own depth z[i],
// factor k[i] (and its integer form factor[i]) and slot, whose first pixel
// is ring[offset[i]]; b is the row's offset along the slits. Each pixel is
// also written to its mirror image mirror_end[−1 − i].
// Row slits: the row has one depth, factor and slot (z[0], k[0], factor[0],
// offset[0]); b is the first pixel's offset, one more for each next pixel;
// mirror_end is unused.
//
// Positions along the slit come from `table` when it is set (as an earlier
// run stored them); otherwise they are computed, and also stored into
// `store` when that is set.
struct bramquil_sg_run {
  const bramquil_sg_consts* consts;
  double b;
  const double* z;
  const double* k;
  const uint32_t* factor;
  const uint32_t* ring;
  const uint64_t* offset;
  const uint16_t* table;
  uint16_t* store;
  uint32_t* out;
  uint32_t* mirror_end;
  size_t n;
};

struct bramquil_kernel_set {
  // Moves n <= 16 frame columns, all `height` rows, between the row-major
  // frame (offset to the first of them; rows `width` pixels apart) and the
  // slots: slots[c][j] = frame[j × width + c].
  void (*columns_to_slots)(uint32_t* const* slots, size_t n, const uint32_t* frame, size_t width,
                           size_t height);
  // frame[j × width + c] = slots[c][j].
  void (*slots_to_columns)(const uint32_t* const* slots, size_t n, uint32_t* frame, size_t width,
                           size_t height);
  void (*sg_columns)(const bramquil_sg_run& run);
  void (*sg_rows)(const bramquil_sg_run& run);
  // The 24-bit fraction K nearest k if (c × K + 2^23) >> 24 equals
  // trunc(c × k + 0.5) in doubles for every byte value c, else
  // bramquil_no_factor. k lies in 0..1.
  uint32_t (*sg_factor)(double k);
};

// The set of each adapter; only those of the levels this build compiles
// exist.
extern const bramquil_kernel_set bramquil_portable_kernels, bramquil_sse2_kernels,
    bramquil_avx2_kernels, bramquil_neon_kernels;

// The set of each level this build has (null where it has none), and the
// one for this processor, chosen when the library loaded.
extern const bramquil_kernel_set* const bramquil_kernel_sets[effects::level_count];
const bramquil_kernel_set& bramquil_kernels();
