// What the SSE2 and AVX2 adapters have in common: pixels four to an
// __m128i (SSE2 uses the low two lanes), lane masks as all-ones 32-bit
// lanes. Included inside each adapter's target region and unnamed
// namespace, like the kernel, so each gets its own private copy.

struct x86_pixels {
  using vi = __m128i;
  using vm = __m128i;

  static vi alpha(vi p) { return _mm_srli_epi32(p, 24); }
  static vm is_zero(vi a) { return _mm_cmpeq_epi32(a, _mm_setzero_si128()); }
  static vm or_m(vm a, vm b) { return _mm_or_si128(a, b); }
  static vm same_alpha(vi p00, vi p10, vi p01, vi p11) {
    const vi differ = _mm_or_si128(_mm_or_si128(_mm_xor_si128(p00, p10), _mm_xor_si128(p00, p01)),
                                   _mm_xor_si128(p00, p11));
    return is_zero(_mm_srli_epi32(differ, 24));
  }
  static vi pack(vi b0, vi b1, vi b2, vi b3, vm zero) {
    const vi pixel = _mm_or_si128(_mm_or_si128(b0, _mm_slli_epi32(b1, 8)),
                                  _mm_or_si128(_mm_slli_epi32(b2, 16), _mm_slli_epi32(b3, 24)));
    return _mm_andnot_si128(zero, pixel);
  }
};
