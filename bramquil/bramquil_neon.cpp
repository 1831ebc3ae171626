// bramquil's kernels for NEON (aarch64, little-endian): two doubles or four
// pixels a step. NEON is part of every aarch64 processor, so no run-time
// check is needed.
#include "bramquil_dispatch.h"

#if defined(EFFECTS_NEON)
#include <arm_neon.h>

namespace {

#include "common/neon_ops.h"

struct neon : neon_lanes {
  static constexpr size_t dlanes = 2;
  static constexpr size_t lanes = 4;

  static vd ramp_d() {
    static const double ramp[2] = {0.0, 1.0};
    return vld1q_f64(ramp);
  }
  static vd and_d(md m, vd a) {
    return vreinterpretq_f64_u64(vandq_u64(m, vreinterpretq_u64_f64(a)));
  }
  static bool same_d(vd a, vd b) {
    const uint64x2_t eq = vceqq_f64(a, b);
    return (vgetq_lane_u64(eq, 0) & vgetq_lane_u64(eq, 1)) != 0;
  }
  // Whole doubles convert exactly; the low halves are the 32-bit values.
  static void store_index(uint32_t* p, vd a) { vst1_u32(p, vmovn_u64(vcvtq_u64_f64(a))); }

  static bool any_equal(vi a, uint32_t x) { return vmaxvq_u32(vceqq_u32(a, splat(x))) != 0; }
  static vi reverse(vi a) {
    const uint32x4_t pairs = vrev64q_u32(a);
    return vextq_u32(pairs, pairs, 2);
  }
  template <class Index>
  static vi gather(const uint32_t* ring, const uint64_t* offset, const Index* pos) {
    const uint32_t px[4] = {ring[offset[0] + pos[0]], ring[offset[1] + pos[1]],
                            ring[offset[2] + pos[2]], ring[offset[3] + pos[3]]};
    return vld1q_u32(px);
  }
  template <class Index>
  static vi gather(const uint32_t* ring, uint64_t offset, const Index* pos) {
    const uint32_t* slot = ring + offset;
    const uint32_t px[4] = {slot[pos[0]], slot[pos[1]], slot[pos[2]], slot[pos[3]]};
    return vld1q_u32(px);
  }

  static void transpose4(const uint32_t* const s[4], uint32_t* const d[4]) {
    const uint32x4x2_t t01 = vtrnq_u32(vld1q_u32(s[0]), vld1q_u32(s[1]));
    const uint32x4x2_t t23 = vtrnq_u32(vld1q_u32(s[2]), vld1q_u32(s[3]));
    vst1q_u32(d[0], vcombine_u32(vget_low_u32(t01.val[0]), vget_low_u32(t23.val[0])));
    vst1q_u32(d[1], vcombine_u32(vget_low_u32(t01.val[1]), vget_low_u32(t23.val[1])));
    vst1q_u32(d[2], vcombine_u32(vget_high_u32(t01.val[0]), vget_high_u32(t23.val[0])));
    vst1q_u32(d[3], vcombine_u32(vget_high_u32(t01.val[1]), vget_high_u32(t23.val[1])));
  }
};

#include "common/scalar_ops.h"
#include "bramquil_body.h"

}  // namespace

extern const bramquil_kernel_set bramquil_neon_kernels = make_kernels<neon>();

#endif
