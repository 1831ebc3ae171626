// The AVX-512 adapter: eight pixels a step, indexed in 32-bit lanes, so
// only for frames below 2^31 pixels and at least two columns; and its
// source points for values that move. Chosen at load time only on
// processors that have AVX-512 F, VL, DQ and BW.
#include "orrelind_dispatch.h"

#if defined(EFFECTS_AVX512)
#include "common/avx512_intrinsics.h"
#include "common/target.h"

EFFECTS_TARGET_BEGIN(EFFECTS_AVX512_ISA("avx512f,avx512vl,avx512dq,avx512bw,avx2"))

namespace {

#include "common/scalar_ops.h"
#include "orrelind_resample_body.h"
#include "orrelind_trig_body.h"
#include "orrelind_points_body.h"
#include "common/avx512_ops.h"

struct avx512 : avx512_doubles {
  using vi = __m256i;  // eight pixels
  using vm = __mmask8;
  static constexpr size_t lanes = 8;
  static constexpr bool single = true;
  using vf = __m512;
  using vw = __m512i;  // sixteen pixels
  using vmw = __mmask16;

  // Double lanes and pixel lanes share one mask type: or_m and select_d
  // serve both.
  static uint64_t bits_d(md m) { return m; }
  // The neighbour pairs as in the AVX2 adapter: one 8-byte load per row,
  // from the column before in the last column.
  __attribute__((always_inline)) static void fetch(const orrelind_source_frame& s, vd fsx, vd fsy,
                                                   vi* p00, vi* p10, vi* p01, vi* p11) {
    const vi x0 = _mm512_cvttpd_epi32(fsx), y0 = _mm512_cvttpd_epi32(fsy);
    const vi width = _mm256_set1_epi32(int(s.width));
    const __mmask8 last_column = _mm256_cmpeq_epi32_mask(x0, _mm256_set1_epi32(int(s.width - 1)));
    const vi point = _mm256_add_epi32(_mm256_mullo_epi32(y0, width), x0);
    const vi at = _mm256_mask_sub_epi32(point, last_column, point, _mm256_set1_epi32(1));
    const vi below = _mm256_mask_add_epi32(
        at, _mm256_cmplt_epi32_mask(y0, _mm256_set1_epi32(int(s.height - 1))), at, width);
    const __m512i top = pairs(s.pixels, at), bottom = pairs(s.pixels, below);
    *p10 = _mm512_cvtepi64_epi32(_mm512_srli_epi64(top, 32));
    *p11 = _mm512_cvtepi64_epi32(_mm512_srli_epi64(bottom, 32));
    *p00 = _mm256_mask_mov_epi32(_mm512_cvtepi64_epi32(top), last_column, *p10);
    *p01 = _mm256_mask_mov_epi32(_mm512_cvtepi64_epi32(bottom), last_column, *p11);
  }
  // The pixel pairs that start at eight indices, one plain load each.
  __attribute__((always_inline)) static __m512i pairs(const uint32_t* pixels, vi at) {
    alignas(32) uint32_t index[8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(index), at);
    const auto load = [pixels](uint32_t i) {
      return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(pixels + i));
    };
    const __m256i low = _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_unpacklo_epi64(load(index[0]), load(index[1]))),
        _mm_unpacklo_epi64(load(index[2]), load(index[3])), 1);
    const __m256i high = _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_unpacklo_epi64(load(index[4]), load(index[5]))),
        _mm_unpacklo_epi64(load(index[6]), load(index[7])), 1);
    return _mm512_inserti64x4(_mm512_castsi256_si512(low), high, 1);
  }
  // Byte k of every pixel into the low byte of its lane, the rest zero.
  template <int k>
  static vd byte_d(vi p) {
    const vi pick = _mm256_setr_epi32(
        int(0x80808000u + k), int(0x80808004u + k), int(0x80808008u + k), int(0x8080800Cu + k),
        int(0x80808000u + k), int(0x80808004u + k), int(0x80808008u + k), int(0x8080800Cu + k));
    return _mm512_cvtepi32_pd(_mm256_shuffle_epi8(p, pick));
  }
  static vi alpha(vi p) { return _mm256_srli_epi32(p, 24); }
  static vm same_alpha(vi p00, vi p10, vi p01, vi p11) {
    const vi differ =
        _mm256_or_si256(_mm256_or_si256(_mm256_xor_si256(p00, p10), _mm256_xor_si256(p00, p01)),
                        _mm256_xor_si256(p00, p11));
    return is_zero(_mm256_srli_epi32(differ, 24));
  }
  static vm is_zero(vi a) { return _mm256_testn_epi32_mask(a, a); }
  static vm or_m(vm a, vm b) { return vm(a | b); }
  static bool all(vm m) { return m == 0xFF; }
  static vi to_byte(vd v) {
    v = _mm512_max_pd(v, _mm512_setzero_pd());
    v = _mm512_min_pd(v, _mm512_set1_pd(255.0));
    return _mm512_cvttpd_epi32(_mm512_add_pd(v, _mm512_set1_pd(0.5)));
  }
  static vi pack(vi b0, vi b1, vi b2, vi b3, vm zero) {
    const vi pixel =
        _mm256_or_si256(_mm256_or_si256(b0, _mm256_slli_epi32(b1, 8)),
                        _mm256_or_si256(_mm256_slli_epi32(b2, 16), _mm256_slli_epi32(b3, 24)));
    return _mm256_maskz_mov_epi32(vm(~zero), pixel);
  }
  static void store(uint32_t* p, vi v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }

  static vw join(vi low, vi high) {
    return _mm512_inserti64x4(_mm512_castsi256_si512(low), high, 1);
  }
  static vf to_float(vd low, vd high) {
    return _mm512_insertf32x8(_mm512_castps256_ps512(_mm512_cvtpd_ps(low)), _mm512_cvtpd_ps(high),
                              1);
  }
  template <int k>
  static vf byte_f(vw p) {
    const vw pick = _mm512_broadcast_i32x4(_mm_setr_epi32(
        int(0x80808000u + k), int(0x80808004u + k), int(0x80808008u + k), int(0x8080800Cu + k)));
    return _mm512_cvtepi32_ps(_mm512_shuffle_epi8(p, pick));
  }
  static vf splat_f(float x) { return _mm512_set1_ps(x); }
  static vf add_f(vf a, vf b) { return _mm512_add_ps(a, b); }
  static vf sub_f(vf a, vf b) { return _mm512_sub_ps(a, b); }
  static vf mul_f(vf a, vf b) { return _mm512_mul_ps(a, b); }
  static vw trunc_f(vf a) { return _mm512_cvttps_epi32(a); }
  static vmw same(vw a, vw b) { return _mm512_cmpeq_epi32_mask(a, b); }
  static vmw and_w(vmw a, vmw b) { return vmw(a & b); }
  static bool all_w(vmw m) { return m == 0xFFFF; }
  // b0 | b1 << 8 | b2 << 16 | the alpha bits of p, in lanes where that
  // alpha is not 0.
  static vw pack_w(vw b0, vw b1, vw b2, vw p) {
    const vw alpha_bits = _mm512_set1_epi32(int(0xFF000000u));
    const vw colour =
        _mm512_ternarylogic_epi32(b0, _mm512_slli_epi32(b1, 8), _mm512_slli_epi32(b2, 16), 0xFE);
    return _mm512_maskz_ternarylogic_epi32(_mm512_test_epi32_mask(p, alpha_bits), colour, p,
                                           alpha_bits, 0xF8);
  }
  static void store_w(uint32_t* p, vw v) { _mm512_storeu_si512(p, v); }
};

void orrelind_resample_avx512(const orrelind_source_frame& src, const double* sx, const double* sy,
                              size_t n, uint32_t* dst) {
  orrelind_resample_run<avx512>(src, sx, sy, n, dst);
}

const orrelind_moving_kernels orrelind_moving_avx512 = orrelind_moving_of<avx512>;

}  // namespace

extern const orrelind_kernel_set orrelind_avx512_kernels = {
    orrelind_resample_avx512, orrelind_resample_sse2, &orrelind_moving_avx512};

EFFECTS_TARGET_END
#endif
