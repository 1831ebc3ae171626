// The compositing kernels for AVX2 (with FMA, which every processor with
// AVX2 has): 8 pixels a step. Chosen at load time only on processors that
// have both.
#include "kestrune_dispatch.h"

#if defined(EFFECTS_AVX2)
#include <immintrin.h>

#include "common/target.h"

EFFECTS_TARGET_BEGIN("avx2,fma")

namespace {

#include "common/avx2_ops.h"

struct avx2 : avx2_lanes {
  static constexpr size_t lanes = 8;
  static constexpr bool bit_overlay = true;
  using vq = __m256i;

  using count = __m128i;  // a shift count, made once
  static count shift_count(int k) { return _mm_cvtsi32_si128(k); }
  static vi shift_right_signed(vi a, count k) { return _mm256_sra_epi32(a, k); }
  static vi abs_diff_u8(vi a, vi b) {
    return _mm256_or_si256(_mm256_subs_epu8(a, b), _mm256_subs_epu8(b, a));
  }
  static vi max_u8(vi a, vi b) { return _mm256_max_epu8(a, b); }
  static vi subs_u8(vi a, vi b) { return _mm256_subs_epu8(a, b); }
  static vi is_zero(vi a) { return _mm256_cmpeq_epi32(a, _mm256_setzero_si256()); }
  static bool any(vi a) { return !_mm256_testz_si256(a, a); }
  static vi madd16(vi a, vi b) { return _mm256_madd_epi16(a, b); }
  static vi mulhi_u16(vi a, vi b) { return _mm256_mulhi_epu16(a, b); }
  static vi less(vi a, vi b) { return _mm256_cmpgt_epi32(b, a); }
  static vi select(vi mask, vi a, vi b) { return _mm256_blendv_epi8(b, a, mask); }
  static vi min_i32(vi a, vi b) { return _mm256_min_epi32(a, b); }
  static vi max_i32(vi a, vi b) { return _mm256_max_epi32(a, b); }
  static vi clamp_byte(vi a) {
    return _mm256_min_epi32(_mm256_max_epi32(a, _mm256_setzero_si256()), _mm256_set1_epi32(255));
  }
  static vi pack_i16(vi a, vi b) { return _mm256_packs_epi32(a, b); }
  static vi pack_u8(vi a, vi b) { return _mm256_packus_epi16(a, b); }
  static vi interleave_u8(vi a, vi b) { return _mm256_unpacklo_epi8(a, b); }
  static vi interleave_u16(vi a, vi b) { return _mm256_unpacklo_epi16(a, b); }
  static vi high_half(vi a) { return _mm256_unpackhi_epi64(a, a); }
  static vd low_double(vi a) { return _mm256_cvtepi32_pd(_mm256_castsi256_si128(a)); }
  static vd high_double(vi a) { return _mm256_cvtepi32_pd(_mm256_extracti128_si256(a, 1)); }
  static vi truncate(vd low, vd high) {
    return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm256_cvttpd_epi32(low)),
                                   _mm256_cvttpd_epi32(high), 1);
  }
  // overlay_by_bits's operations (see kestrune_exact.h).
  static vq spread_low(vi a) { return _mm256_cvtepu32_epi64(_mm256_castsi256_si128(a)); }
  static vq spread_high(vi a) { return _mm256_cvtepu32_epi64(_mm256_extracti128_si256(a, 1)); }
  template <int k, bool inverted>
  static vd biased_byte(vq a) {
    const vq x = k == 0 ? a : _mm256_srli_epi64(a, 8 * k);
    const vq byte = inverted ? _mm256_andnot_si256(x, _mm256_set1_epi64x(0xFF))
                             : _mm256_and_si256(x, _mm256_set1_epi64x(0xFF));
    return _mm256_castsi256_pd(_mm256_or_si256(byte, _mm256_set1_epi64x(0x4330000000000000)));
  }
  // Fused on purpose: (2^52 + a) w - 2^52 w is exactly a w, so the single
  // rounding is the product's own.
  static vd product(vd biased, vd weight, vd offset) {
    return _mm256_fmadd_pd(biased, weight, offset);
  }
  // floor(x) exactly, then 2^52 + floor(x) exactly: floor(x) in the low bits.
  static vq floor_bits(vd x) {
    return _mm256_castpd_si256(_mm256_add_pd(_mm256_floor_pd(x), _mm256_set1_pd(0x1p52)));
  }
  static vq join_bytes(vq b0, vq b1, vq b2) {
    return _mm256_or_si256(_mm256_or_si256(b0, _mm256_slli_epi64(b1, 8)),
                           _mm256_slli_epi64(b2, 16));
  }
  // The even 32-bit halves of both, in order.
  static vi low_halves(vq low, vq high) {
    const __m256 evens = _mm256_shuffle_ps(_mm256_castsi256_ps(low), _mm256_castsi256_ps(high),
                                           _MM_SHUFFLE(2, 0, 2, 0));
    return _mm256_permute4x64_epi64(_mm256_castps_si256(evens), _MM_SHUFFLE(3, 1, 2, 0));
  }
};

#include "kestrune_body.h"

}  // namespace

extern const kestrune_kernel_set kestrune_avx2_kernels = make_kernels<avx2>();


EFFECTS_TARGET_END

#endif
