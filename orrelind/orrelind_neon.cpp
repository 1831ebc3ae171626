// The NEON adapter for aarch64, little-endian: two pixels a step, indexed in
// 64 bits, so it serves frames of any size; and its source points for
// values that move.
#include "orrelind_dispatch.h"

#if defined(EFFECTS_NEON)
#include <arm_neon.h>

namespace {

#include "common/neon_ops.h"

#include "common/scalar_ops.h"
#include "orrelind_resample_body.h"
#include "orrelind_trig_body.h"
#include "orrelind_points_body.h"

struct neon : neon_doubles {
  using vi = uint32x2_t;  // two pixels
  using vm = uint32x2_t;  // all ones in a lane where set
  static constexpr size_t lanes = 2;
  static constexpr bool single = true;
  using vf = float32x4_t;
  using vw = uint32x4_t;  // four pixels
  using vmw = uint32x4_t;

  // select_d takes a mask of either kind.
  using neon_doubles::select_d;
  static md or_m(md a, md b) { return vorrq_u64(a, b); }
  static uint64_t bits_d(md m) { return (vgetq_lane_u64(m, 0) & 1) | (vgetq_lane_u64(m, 1) & 2); }
  __attribute__((always_inline)) static void fetch(const orrelind_source_frame& s, vd fsx, vd fsy,
                                                   vi* p00, vi* p10, vi* p01, vi* p11) {
    uint32_t a[4], b[4];
    orrelind_fetch_one(s, vgetq_lane_f64(fsx, 0), vgetq_lane_f64(fsy, 0), &a[0], &a[1], &a[2],
                       &a[3]);
    orrelind_fetch_one(s, vgetq_lane_f64(fsx, 1), vgetq_lane_f64(fsy, 1), &b[0], &b[1], &b[2],
                       &b[3]);
    *p00 = pair(a[0], b[0]);
    *p10 = pair(a[1], b[1]);
    *p01 = pair(a[2], b[2]);
    *p11 = pair(a[3], b[3]);
  }
  static vi pair(uint32_t first, uint32_t second) {
    return vset_lane_u32(second, vdup_n_u32(first), 1);
  }
  template <int k>
  static vd byte_d(vi p) {
    vi b = p;
    if constexpr (k > 0) b = vshr_n_u32(p, 8 * k);
    return vcvtq_f64_u64(vmovl_u32(vand_u32(b, vdup_n_u32(0xFF))));
  }
  static vi alpha(vi p) { return vshr_n_u32(p, 24); }
  static vm same_alpha(vi p00, vi p10, vi p01, vi p11) {
    const vi differ =
        vorr_u32(vorr_u32(veor_u32(p00, p10), veor_u32(p00, p01)), veor_u32(p00, p11));
    return is_zero(vshr_n_u32(differ, 24));
  }
  static vm is_zero(vi a) { return vceq_u32(a, vdup_n_u32(0)); }
  static vm or_m(vm a, vm b) { return vorr_u32(a, b); }
  static bool all(vm m) { return vminv_u32(m) != 0; }
  static vd select_d(vm m, vd a, vd b) {
    const uint64x2_t wide = vreinterpretq_u64_s64(vmovl_s32(vreinterpret_s32_u32(m)));
    return vbslq_f64(wide, a, b);
  }
  static vi to_byte(vd v) {
    v = vmaxq_f64(v, vdupq_n_f64(0.0));
    v = vminq_f64(v, vdupq_n_f64(255.0));
    return vmovn_u64(vcvtq_u64_f64(vaddq_f64(v, vdupq_n_f64(0.5))));
  }
  static vi pack(vi b0, vi b1, vi b2, vi b3, vm zero) {
    const vi pixel =
        vorr_u32(vorr_u32(b0, vshl_n_u32(b1, 8)), vorr_u32(vshl_n_u32(b2, 16), vshl_n_u32(b3, 24)));
    return vbic_u32(pixel, zero);
  }
  static void store(uint32_t* p, vi v) { vst1_u32(p, v); }

  static vw join(vi low, vi high) { return vcombine_u32(low, high); }
  static vf to_float(vd low, vd high) { return vcvt_high_f32_f64(vcvt_f32_f64(low), high); }
  template <int k>
  static vf byte_f(vw p) {
    vw b = p;
    if constexpr (k > 0) b = vshrq_n_u32(p, 8 * k);
    return vcvtq_f32_u32(vandq_u32(b, vdupq_n_u32(0xFF)));
  }
  static vf splat_f(float x) { return vdupq_n_f32(x); }
  static vf add_f(vf a, vf b) { return vaddq_f32(a, b); }
  static vf sub_f(vf a, vf b) { return vsubq_f32(a, b); }
  static vf mul_f(vf a, vf b) { return vmulq_f32(a, b); }
  // Toward zero, as the x86 truncations.
  static vw trunc_f(vf a) { return vreinterpretq_u32_s32(vcvtq_s32_f32(a)); }
  static vmw same(vw a, vw b) { return vceqq_u32(a, b); }
  static vmw and_w(vmw a, vmw b) { return vandq_u32(a, b); }
  static bool all_w(vmw m) { return vminvq_u32(m) != 0; }
  static vw pack_w(vw b0, vw b1, vw b2, vw p) {
    const vw alpha = vandq_u32(p, vdupq_n_u32(0xFF000000u));
    const vw pixel =
        vorrq_u32(vorrq_u32(b0, vshlq_n_u32(b1, 8)), vorrq_u32(vshlq_n_u32(b2, 16), alpha));
    return vbicq_u32(pixel, vceqq_u32(alpha, vdupq_n_u32(0)));
  }
  static void store_w(uint32_t* p, vw v) { vst1q_u32(p, v); }
};

void orrelind_resample_neon(const orrelind_source_frame& src, const double* sx, const double* sy,
                            size_t n, uint32_t* dst) {
  orrelind_resample_run<neon>(src, sx, sy, n, dst);
}

const orrelind_moving_kernels orrelind_moving_neon = orrelind_moving_of<neon>;

}  // namespace

extern const orrelind_kernel_set orrelind_neon_kernels = {
    orrelind_resample_neon, orrelind_resample_neon, &orrelind_moving_neon};
#endif
