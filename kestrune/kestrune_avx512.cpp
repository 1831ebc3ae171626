// The compositing kernels for AVX-512 (F and BW): 16 pixels a step. Chosen
// at load time only on processors that have both.
#include "kestrune_dispatch.h"

#if defined(EFFECTS_AVX512)
#include "common/avx512_intrinsics.h"
#include "common/target.h"

EFFECTS_TARGET_BEGIN(EFFECTS_AVX512_ISA("avx512f,avx512bw"))

namespace {

#include "common/avx512_ops.h"

struct avx512 : avx512_lanes {
  static constexpr size_t lanes = 16;
  static constexpr bool bit_overlay = true;
  using vq = __m512i;

  using count = __m128i;  // a shift count, made once
  static count shift_count(int k) { return _mm_cvtsi32_si128(k); }
  static vi shift_right_signed(vi a, count k) { return _mm512_sra_epi32(a, k); }
  static vi abs_diff_u8(vi a, vi b) {
    return _mm512_or_si512(_mm512_subs_epu8(a, b), _mm512_subs_epu8(b, a));
  }
  static vi max_u8(vi a, vi b) { return _mm512_max_epu8(a, b); }
  static vi subs_u8(vi a, vi b) { return _mm512_subs_epu8(a, b); }
  static vi is_zero(vi a) { return _mm512_maskz_set1_epi32(_mm512_testn_epi32_mask(a, a), -1); }
  static bool any(vi a) { return _mm512_test_epi32_mask(a, a) != 0; }
  static vi madd16(vi a, vi b) { return _mm512_madd_epi16(a, b); }
  static vi mulhi_u16(vi a, vi b) { return _mm512_mulhi_epu16(a, b); }
  static vi less(vi a, vi b) { return _mm512_maskz_set1_epi32(_mm512_cmplt_epi32_mask(a, b), -1); }
  static vi select(vi mask, vi a, vi b) { return _mm512_ternarylogic_epi32(mask, a, b, 0xCA); }
  static vi min_i32(vi a, vi b) { return _mm512_min_epi32(a, b); }
  static vi max_i32(vi a, vi b) { return _mm512_max_epi32(a, b); }
  static vi clamp_byte(vi a) {
    return _mm512_min_epi32(_mm512_max_epi32(a, _mm512_setzero_si512()), _mm512_set1_epi32(255));
  }
  static vi pack_i16(vi a, vi b) { return _mm512_packs_epi32(a, b); }
  static vi pack_u8(vi a, vi b) { return _mm512_packus_epi16(a, b); }
  static vi interleave_u8(vi a, vi b) { return _mm512_unpacklo_epi8(a, b); }
  static vi interleave_u16(vi a, vi b) { return _mm512_unpacklo_epi16(a, b); }
  static vi high_half(vi a) { return _mm512_unpackhi_epi64(a, a); }
  static vd low_double(vi a) { return _mm512_cvtepi32_pd(_mm512_castsi512_si256(a)); }
  static vd high_double(vi a) { return _mm512_cvtepi32_pd(_mm512_extracti64x4_epi64(a, 1)); }
  static vi truncate(vd low, vd high) {
    return _mm512_inserti64x4(_mm512_castsi256_si512(_mm512_cvttpd_epi32(low)),
                              _mm512_cvttpd_epi32(high), 1);
  }
  // overlay_by_bits's operations (see kestrune_exact.h).
  static vq spread_low(vi a) { return _mm512_cvtepu32_epi64(_mm512_castsi512_si256(a)); }
  static vq spread_high(vi a) { return _mm512_cvtepu32_epi64(_mm512_extracti64x4_epi64(a, 1)); }
  // (x & 0xFF) | bits of 2^52, or (~x & 0xFF) | bits of 2^52, in one
  // ternary logic instruction.
  template <int k, bool inverted>
  static vd biased_byte(vq a) {
    const vq x = k == 0 ? a : _mm512_srli_epi64(a, 8 * k);
    return _mm512_castsi512_pd(_mm512_ternarylogic_epi64(
        x, _mm512_set1_epi64(0xFF), _mm512_set1_epi64(0x4330000000000000), inverted ? 0xAE : 0xEA));
  }
  // Fused on purpose: (2^52 + a) w - 2^52 w is exactly a w, so the single
  // rounding is the product's own.
  static vd product(vd biased, vd weight, vd offset) {
    return _mm512_fmadd_pd(biased, weight, offset);
  }
  // 2^52 + x rounded down is 2^52 + floor(x): the bits of a double with
  // unit spacing, floor(x) in the low ones.
  static vq floor_bits(vd x) {
    return _mm512_castpd_si512(
        _mm512_add_round_pd(x, _mm512_set1_pd(0x1p52), _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC));
  }
  static vq join_bytes(vq b0, vq b1, vq b2) {
    return _mm512_ternarylogic_epi64(b0, _mm512_slli_epi64(b1, 8), _mm512_slli_epi64(b2, 16), 0xFE);
  }
  static vi low_halves(vq low, vq high) {
    return _mm512_permutex2var_epi32(
        low, _mm512_setr_epi32(0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30), high);
  }
};

#include "kestrune_body.h"

}  // namespace

extern const kestrune_kernel_set kestrune_avx512_kernels = make_kernels<avx512>();


EFFECTS_TARGET_END

#endif
