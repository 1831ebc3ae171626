// vestrale's passes for NEON (aarch64, little-endian): four pixels a step.
// NEON has no streaming store worth the name here; the slot is stored
// plainly.
#include "vestrale_dispatch.h"

#if defined(EFFECTS_NEON)
#include <arm_neon.h>

namespace {

#include "common/neon_ops.h"

struct neon : neon_lanes {
  static constexpr size_t lanes = 4;
  static constexpr size_t align = 4;
  static void stream(uint32_t* p, vi a) { vst1q_u32(p, a); }
  static void fence() {}
};

#include "common/scalar_ops.h"
#include "vestrale_body.h"

}  // namespace

extern const vestrale_kernel_set vestrale_neon_kernels = make_kernels<neon>();

#endif
