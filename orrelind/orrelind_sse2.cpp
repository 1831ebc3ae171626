// The SSE2 adapter, the x86-64 baseline: two pixels a step, indexed in 64
// bits, so it serves frames of any size; and its source points for values
// that move.
#include "orrelind_dispatch.h"

#if defined(EFFECTS_SSE2)
#include <emmintrin.h>

namespace {

#include "common/scalar_ops.h"
#include "orrelind_resample_body.h"
#include "orrelind_trig_body.h"
#include "orrelind_points_body.h"
#include "orrelind_x86.h"
#include "common/sse2_ops.h"

// Two pixels in the low lanes of x86_pixels' vectors.
struct sse2 : x86_pixels, sse2_doubles {
  static constexpr size_t lanes = 2;
  static constexpr bool single = true;
  using vf = __m128;
  using vw = __m128i;  // four pixels
  using vmw = __m128i;

  // select_d takes a mask of either kind.
  using sse2_doubles::select_d;
  using x86_pixels::or_m;
  static md or_m(md a, md b) { return _mm_or_pd(a, b); }
  static uint64_t bits_d(md m) { return uint64_t(_mm_movemask_pd(m)); }
  __attribute__((always_inline)) static void fetch(const orrelind_source_frame& s, vd fsx, vd fsy,
                                                   vi* p00, vi* p10, vi* p01, vi* p11) {
    uint32_t a[4], b[4];
    orrelind_fetch_one(s, _mm_cvtsd_f64(fsx), _mm_cvtsd_f64(fsy), &a[0], &a[1], &a[2], &a[3]);
    orrelind_fetch_one(s, _mm_cvtsd_f64(_mm_unpackhi_pd(fsx, fsx)),
                       _mm_cvtsd_f64(_mm_unpackhi_pd(fsy, fsy)), &b[0], &b[1], &b[2], &b[3]);
    *p00 = pair(a[0], b[0]);
    *p10 = pair(a[1], b[1]);
    *p01 = pair(a[2], b[2]);
    *p11 = pair(a[3], b[3]);
  }
  static vi pair(uint32_t first, uint32_t second) {
    return _mm_unpacklo_epi32(_mm_cvtsi32_si128(int(first)), _mm_cvtsi32_si128(int(second)));
  }
  template <int k>
  static vd byte_d(vi p) {
    return _mm_cvtepi32_pd(_mm_and_si128(_mm_srli_epi32(p, 8 * k), _mm_set1_epi32(0xFF)));
  }
  static bool all(vm m) { return (_mm_movemask_ps(_mm_castsi128_ps(m)) & 3) == 3; }
  static vd select_d(vm m, vd a, vd b) {
    const vd wide = _mm_castsi128_pd(_mm_unpacklo_epi32(m, m));
    return _mm_or_pd(_mm_and_pd(wide, a), _mm_andnot_pd(wide, b));
  }
  static vi to_byte(vd v) {
    v = _mm_max_pd(v, _mm_setzero_pd());
    v = _mm_min_pd(v, _mm_set1_pd(255.0));
    return _mm_cvttpd_epi32(_mm_add_pd(v, _mm_set1_pd(0.5)));
  }
  static void store(uint32_t* p, vi v) { _mm_storel_epi64(reinterpret_cast<__m128i*>(p), v); }

  static vw join(vi low, vi high) { return _mm_unpacklo_epi64(low, high); }
  static vf to_float(vd low, vd high) {
    return _mm_movelh_ps(_mm_cvtpd_ps(low), _mm_cvtpd_ps(high));
  }
  template <int k>
  static vf byte_f(vw p) {
    return _mm_cvtepi32_ps(_mm_and_si128(_mm_srli_epi32(p, 8 * k), _mm_set1_epi32(0xFF)));
  }
  static vf splat_f(float x) { return _mm_set1_ps(x); }
  static vf add_f(vf a, vf b) { return _mm_add_ps(a, b); }
  static vf sub_f(vf a, vf b) { return _mm_sub_ps(a, b); }
  static vf mul_f(vf a, vf b) { return _mm_mul_ps(a, b); }
  static vw trunc_f(vf a) { return _mm_cvttps_epi32(a); }
  static vmw same(vw a, vw b) { return _mm_cmpeq_epi32(a, b); }
  static vmw and_w(vmw a, vmw b) { return _mm_and_si128(a, b); }
  static bool all_w(vmw m) { return _mm_movemask_epi8(m) == 0xFFFF; }
  static vw pack_w(vw b0, vw b1, vw b2, vw p) {
    const vw alpha = _mm_and_si128(p, _mm_set1_epi32(int(0xFF000000u)));
    return pack(b0, b1, b2, _mm_srli_epi32(alpha, 24), _mm_cmpeq_epi32(alpha, _mm_setzero_si128()));
  }
  static void store_w(uint32_t* p, vw v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }
};

}  // namespace

void orrelind_resample_sse2(const orrelind_source_frame& src, const double* sx, const double* sy,
                            size_t n, uint32_t* dst) {
  orrelind_resample_run<sse2>(src, sx, sy, n, dst);
}

namespace {

const orrelind_moving_kernels orrelind_moving_sse2 = orrelind_moving_of<sse2>;

}  // namespace

extern const orrelind_kernel_set orrelind_sse2_kernels = {
    orrelind_resample_sse2, orrelind_resample_sse2, &orrelind_moving_sse2};
#endif
