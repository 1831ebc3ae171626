// The compositing kernels for NEON, the aarch64 baseline: 4 pixels a step.
// Each operation follows its SSE2 namesake lane for lane.
#include "kestrune_dispatch.h"

#if defined(EFFECTS_NEON)
#include <arm_neon.h>

namespace {

#include "common/neon_ops.h"

struct neon : neon_lanes {
  static constexpr size_t lanes = 4;
  static constexpr bool bit_overlay = false;

  static int32x4_t s32(vi a) { return vreinterpretq_s32_u32(a); }
  static int16x8_t s16(vi a) { return vreinterpretq_s16_u32(a); }
  static uint16x8_t u16(vi a) { return vreinterpretq_u16_u32(a); }
  static uint8x16_t u8(vi a) { return vreinterpretq_u8_u32(a); }

  using count = int32x4_t;  // a shift count, made once
  static count shift_count(int k) { return vdupq_n_s32(-k); }
  static vi shift_right_signed(vi a, count k) {
    return vreinterpretq_u32_s32(vshlq_s32(s32(a), k));
  }
  static vi abs_diff_u8(vi a, vi b) { return vreinterpretq_u32_u8(vabdq_u8(u8(a), u8(b))); }
  static vi max_u8(vi a, vi b) { return vreinterpretq_u32_u8(vmaxq_u8(u8(a), u8(b))); }
  static vi subs_u8(vi a, vi b) { return vreinterpretq_u32_u8(vqsubq_u8(u8(a), u8(b))); }
  static vi is_zero(vi a) { return vceqzq_u32(a); }
  static bool any(vi a) { return vmaxvq_u32(a) != 0; }
  static vi madd16(vi a, vi b) {
    const int32x4_t low = vmull_s16(vget_low_s16(s16(a)), vget_low_s16(s16(b)));
    const int32x4_t high = vmull_high_s16(s16(a), s16(b));
    return vreinterpretq_u32_s32(vpaddq_s32(low, high));
  }
  static vi mulhi_u16(vi a, vi b) {
    const uint32x4_t low = vmull_u16(vget_low_u16(u16(a)), vget_low_u16(u16(b)));
    const uint32x4_t high = vmull_high_u16(u16(a), u16(b));
    return vreinterpretq_u32_u16(vuzp2q_u16(u16(low), u16(high)));
  }
  static vi less(vi a, vi b) { return vcltq_s32(s32(a), s32(b)); }
  static vi min_i32(vi a, vi b) { return vreinterpretq_u32_s32(vminq_s32(s32(a), s32(b))); }
  static vi max_i32(vi a, vi b) { return vreinterpretq_u32_s32(vmaxq_s32(s32(a), s32(b))); }
  static vi select(vi mask, vi a, vi b) { return vbslq_u32(mask, a, b); }
  static vi clamp_byte(vi a) {
    return vreinterpretq_u32_s32(vminq_s32(vmaxq_s32(s32(a), vdupq_n_s32(0)), vdupq_n_s32(255)));
  }
  static vi pack_i16(vi a, vi b) {
    return vreinterpretq_u32_s16(vcombine_s16(vqmovn_s32(s32(a)), vqmovn_s32(s32(b))));
  }
  static vi pack_u8(vi a, vi b) {
    return vreinterpretq_u32_u8(vcombine_u8(vqmovun_s16(s16(a)), vqmovun_s16(s16(b))));
  }
  static vi interleave_u8(vi a, vi b) { return vreinterpretq_u32_u8(vzip1q_u8(u8(a), u8(b))); }
  static vi interleave_u16(vi a, vi b) { return vreinterpretq_u32_u16(vzip1q_u16(u16(a), u16(b))); }
  static vi high_half(vi a) {
    return vreinterpretq_u32_u64(vdupq_laneq_u64(vreinterpretq_u64_u32(a), 1));
  }
  static vd low_double(vi a) { return vcvtq_f64_s64(vmovl_s32(vget_low_s32(s32(a)))); }
  static vd high_double(vi a) { return vcvtq_f64_s64(vmovl_high_s32(s32(a))); }
  static vi truncate(vd low, vd high) {
    return vreinterpretq_u32_s32(
        vcombine_s32(vmovn_s64(vcvtq_s64_f64(low)), vmovn_s64(vcvtq_s64_f64(high))));
  }
};

#include "kestrune_body.h"

}  // namespace

extern const kestrune_kernel_set kestrune_neon_kernels = make_kernels<neon>();


#endif
