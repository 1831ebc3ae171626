// vestrale's passes for NEON (aarch64, little-endian): four pixels a step.
// NEON has no streaming store worth the name here; the slot is stored
// plainly.
#include "vestrale_dispatch.h"

#if defined(EFFECTS_NEON)
#include <arm_neon.h>

namespace {

struct neon {
  using vi = uint32x4_t;
  static constexpr size_t lanes = 4;
  static constexpr size_t align = 4;
  static vi load(const uint32_t* p) { return vld1q_u32(p); }
  static void store(uint32_t* p, vi a) { vst1q_u32(p, a); }
  static void stream(uint32_t* p, vi a) { vst1q_u32(p, a); }
  static vi splat(uint32_t x) { return vdupq_n_u32(x); }
  static vi bit_and(vi a, vi b) { return vandq_u32(a, b); }
  static vi bit_or(vi a, vi b) { return vorrq_u32(a, b); }
  static vi and_not(vi a, vi b) { return vbicq_u32(b, a); }
  static void fence() {}
};

#include "vestrale_body.h"

}  // namespace

extern const vestrale_kernel_set vestrale_neon_kernels = make_kernels<neon>();

#endif
