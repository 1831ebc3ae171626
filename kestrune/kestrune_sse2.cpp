// The compositing kernels for SSE2, the x86-64 baseline: 4 pixels a step.
#include "kestrune_dispatch.h"

#if defined(EFFECTS_SSE2)
#include <emmintrin.h>

namespace {

#include "common/sse2_ops.h"

struct sse2 : sse2_lanes {
  static constexpr size_t lanes = 4;
  static constexpr bool bit_overlay = false;

  using count = __m128i;  // a shift count, made once
  static count shift_count(int k) { return _mm_cvtsi32_si128(k); }
  static vi shift_right_signed(vi a, count k) { return _mm_sra_epi32(a, k); }
  static vi abs_diff_u8(vi a, vi b) {
    return _mm_or_si128(_mm_subs_epu8(a, b), _mm_subs_epu8(b, a));
  }
  static vi max_u8(vi a, vi b) { return _mm_max_epu8(a, b); }
  static vi subs_u8(vi a, vi b) { return _mm_subs_epu8(a, b); }
  static vi is_zero(vi a) { return _mm_cmpeq_epi32(a, _mm_setzero_si128()); }
  static bool any(vi a) {
    return _mm_movemask_epi8(_mm_cmpeq_epi8(a, _mm_setzero_si128())) != 0xFFFF;
  }
  static vi madd16(vi a, vi b) { return _mm_madd_epi16(a, b); }
  static vi mulhi_u16(vi a, vi b) { return _mm_mulhi_epu16(a, b); }
  static vi less(vi a, vi b) { return _mm_cmplt_epi32(a, b); }
  static vi select(vi mask, vi a, vi b) {
    return _mm_or_si128(_mm_and_si128(mask, a), _mm_andnot_si128(mask, b));
  }
  static vi min_i32(vi a, vi b) { return select(_mm_cmplt_epi32(a, b), a, b); }
  static vi max_i32(vi a, vi b) { return select(_mm_cmpgt_epi32(a, b), a, b); }
  static vi clamp_byte(vi a) {
    const vi positive = _mm_andnot_si128(_mm_srai_epi32(a, 31), a);
    const vi over = _mm_cmpgt_epi32(positive, _mm_set1_epi32(255));
    return select(over, _mm_set1_epi32(255), positive);
  }
  static vi pack_i16(vi a, vi b) { return _mm_packs_epi32(a, b); }
  static vi pack_u8(vi a, vi b) { return _mm_packus_epi16(a, b); }
  static vi interleave_u8(vi a, vi b) { return _mm_unpacklo_epi8(a, b); }
  static vi interleave_u16(vi a, vi b) { return _mm_unpacklo_epi16(a, b); }
  static vi high_half(vi a) { return _mm_unpackhi_epi64(a, a); }
  static vd low_double(vi a) { return _mm_cvtepi32_pd(a); }
  static vd high_double(vi a) { return _mm_cvtepi32_pd(_mm_unpackhi_epi64(a, a)); }
  static vi truncate(vd low, vd high) {
    return _mm_unpacklo_epi64(_mm_cvttpd_epi32(low), _mm_cvttpd_epi32(high));
  }
};

#include "kestrune_body.h"

}  // namespace

extern const kestrune_kernel_set kestrune_sse2_kernels = make_kernels<sse2>();


#endif
