// The AVX2 adapter: four pixels a step, their neighbours gathered with
// 32-bit indices, so only for frames below 2^31 pixels; and its source
// points for values that move. Chosen at load time only on processors that
// have AVX2.
#include "orrelind_dispatch.h"

#if defined(EFFECTS_AVX2)
#include <immintrin.h>

#include "common/target.h"

// The level includes FMA, which the source points' polynomials use.
EFFECTS_TARGET_BEGIN("avx2,fma")

namespace {

#include "common/avx2_ops.h"

#include "common/scalar_ops.h"
#include "orrelind_resample_body.h"
#include "orrelind_trig_body.h"
#include "orrelind_points_body.h"
#include "orrelind_x86.h"

struct avx2 : x86_pixels, avx2_doubles {
  static constexpr size_t lanes = 4;
  static constexpr bool single = true;
  using vf = __m256;
  using vw = __m256i;  // eight pixels
  using vmw = __m256i;

  // select_d takes a mask of either kind.
  using avx2_doubles::select_d;
  using x86_pixels::or_m;
  static md or_m(md a, md b) { return _mm256_or_pd(a, b); }
  static uint64_t bits_d(md m) { return uint64_t(_mm256_movemask_pd(m)); }
  // Two neighbours side by side are one 8-byte load: each row's pair is
  // read from the point's column on, or, in the last column (where the
  // right neighbour repeats it), from the column before, and the point's
  // own pixel taken from the half where it lies. Frames one pixel wide take
  // another adapter.
  __attribute__((always_inline)) static void fetch(const orrelind_source_frame& s, vd fsx, vd fsy,
                                                   vi* p00, vi* p10, vi* p01, vi* p11) {
    const vi x0 = _mm256_cvttpd_epi32(fsx), y0 = _mm256_cvttpd_epi32(fsy);
    const vi width = _mm_set1_epi32(int(s.width));
    const vi last_column = _mm_cmpeq_epi32(x0, _mm_set1_epi32(int(s.width - 1)));
    const vi at = _mm_add_epi32(_mm_add_epi32(_mm_mullo_epi32(y0, width), x0), last_column);
    const vi below = _mm_add_epi32(
        at, _mm_and_si128(_mm_cmplt_epi32(y0, _mm_set1_epi32(int(s.height - 1))), width));
    // Lanes 0..3 hold the left pixels of the pairs, 4..7 the right ones.
    const __m256i split = _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7);
    const __m256i top = _mm256_permutevar8x32_epi32(pairs(s.pixels, at), split);
    const __m256i bottom = _mm256_permutevar8x32_epi32(pairs(s.pixels, below), split);
    *p10 = _mm256_extracti128_si256(top, 1);
    *p11 = _mm256_extracti128_si256(bottom, 1);
    *p00 = _mm_blendv_epi8(_mm256_castsi256_si128(top), *p10, last_column);
    *p01 = _mm_blendv_epi8(_mm256_castsi256_si128(bottom), *p11, last_column);
  }
  // The pixel pairs that start at four indices. Plain loads: a hardware
  // gather costs more on the processors that have one.
  __attribute__((always_inline)) static __m256i pairs(const uint32_t* pixels, vi at) {
    alignas(16) uint32_t index[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(index), at);
    const auto load = [pixels](uint32_t i) {
      return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(pixels + i));
    };
    const __m128i low = _mm_unpacklo_epi64(load(index[0]), load(index[1]));
    const __m128i high = _mm_unpacklo_epi64(load(index[2]), load(index[3]));
    return _mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1);
  }
  // Byte k of every pixel into the low byte of its lane, the rest zero.
  template <int k>
  static vd byte_d(vi p) {
    const vi pick = _mm_setr_epi32(int(0x80808000u + k), int(0x80808004u + k), int(0x80808008u + k),
                                   int(0x8080800Cu + k));
    return _mm256_cvtepi32_pd(_mm_shuffle_epi8(p, pick));
  }
  static bool all(vm m) { return _mm_movemask_ps(_mm_castsi128_ps(m)) == 0xF; }
  static vd select_d(vm m, vd a, vd b) {
    return _mm256_blendv_pd(b, a, _mm256_castsi256_pd(_mm256_cvtepi32_epi64(m)));
  }
  static vi to_byte(vd v) {
    v = _mm256_max_pd(v, _mm256_setzero_pd());
    v = _mm256_min_pd(v, _mm256_set1_pd(255.0));
    return _mm256_cvttpd_epi32(_mm256_add_pd(v, _mm256_set1_pd(0.5)));
  }
  static void store(uint32_t* p, vi v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }

  static vw join(vi low, vi high) {
    return _mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1);
  }
  static vf to_float(vd low, vd high) {
    return _mm256_insertf128_ps(_mm256_castps128_ps256(_mm256_cvtpd_ps(low)), _mm256_cvtpd_ps(high),
                                1);
  }
  template <int k>
  static vf byte_f(vw p) {
    const vw pick = _mm256_setr_epi32(
        int(0x80808000u + k), int(0x80808004u + k), int(0x80808008u + k), int(0x8080800Cu + k),
        int(0x80808000u + k), int(0x80808004u + k), int(0x80808008u + k), int(0x8080800Cu + k));
    return _mm256_cvtepi32_ps(_mm256_shuffle_epi8(p, pick));
  }
  static vf splat_f(float x) { return _mm256_set1_ps(x); }
  static vf add_f(vf a, vf b) { return _mm256_add_ps(a, b); }
  static vf sub_f(vf a, vf b) { return _mm256_sub_ps(a, b); }
  static vf mul_f(vf a, vf b) { return _mm256_mul_ps(a, b); }
  static vw trunc_f(vf a) { return _mm256_cvttps_epi32(a); }
  static vmw same(vw a, vw b) { return _mm256_cmpeq_epi32(a, b); }
  static vmw and_w(vmw a, vmw b) { return _mm256_and_si256(a, b); }
  static bool all_w(vmw m) { return _mm256_movemask_epi8(m) == -1; }
  static vw pack_w(vw b0, vw b1, vw b2, vw p) {
    const vw alpha = _mm256_and_si256(p, _mm256_set1_epi32(int(0xFF000000u)));
    const vw pixel = _mm256_or_si256(_mm256_or_si256(b0, _mm256_slli_epi32(b1, 8)),
                                     _mm256_or_si256(_mm256_slli_epi32(b2, 16), alpha));
    return _mm256_andnot_si256(_mm256_cmpeq_epi32(alpha, _mm256_setzero_si256()), pixel);
  }
  static void store_w(uint32_t* p, vw v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }
};

void orrelind_resample_avx2(const orrelind_source_frame& src, const double* sx, const double* sy,
                            size_t n, uint32_t* dst) {
  orrelind_resample_run<avx2>(src, sx, sy, n, dst);
}

const orrelind_moving_kernels orrelind_moving_avx2 = orrelind_moving_of<avx2>;

}  // namespace

extern const orrelind_kernel_set orrelind_avx2_kernels = {
    orrelind_resample_avx2, orrelind_resample_sse2, &orrelind_moving_avx2};

EFFECTS_TARGET_END
#endif
