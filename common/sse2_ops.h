// The SSE2 operations every SSE2 adapter shares: 32-bit lanes, four to a
// vector, and doubles, two. An adapter derives from sse2_lanes and adds its
// own operations under the names of common/operations.md. Like the
// kernel bodies, this file includes nothing and is included inside an
// adapter source's unnamed namespace, after <emmintrin.h>.

// The low 32 bits of each lane's product. SSE2 multiplies only lanes 0 and
// 2 (to 64 bits); the odd lanes go through a shift and the low halves are
// gathered back.
inline __m128i sse2_mul_lo(__m128i a, __m128i b) {
  const __m128i even = _mm_mul_epu32(a, b);
  const __m128i odd = _mm_mul_epu32(_mm_srli_epi64(a, 32), _mm_srli_epi64(b, 32));
  return _mm_unpacklo_epi32(_mm_shuffle_epi32(even, _MM_SHUFFLE(0, 0, 2, 0)),
                            _mm_shuffle_epi32(odd, _MM_SHUFFLE(0, 0, 2, 0)));
}

// floor, for |a| below 2^51. SSE2 has no rounding instruction: adding and
// taking away 1.5 x 2^52 rounds such a value to a whole number exactly (to
// nearest, as every operation rounds), and one less is taken where that went
// up.
inline __m128d sse2_floor(__m128d a) {
  const __m128d magic = _mm_set1_pd(6755399441055744.0);
  const __m128d rounded = _mm_sub_pd(_mm_add_pd(a, magic), magic);
  return _mm_sub_pd(rounded, _mm_and_pd(_mm_cmpgt_pd(rounded, a), _mm_set1_pd(1.0)));
}

// 32-bit lanes.
struct sse2_words {
  using vi = __m128i;

  static vi load(const uint32_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
  static void store(uint32_t* p, vi a) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), a); }
  static vi splat(uint32_t x) { return _mm_set1_epi32(int(x)); }
  static vi bit_and(vi a, vi b) { return _mm_and_si128(a, b); }
  static vi bit_or(vi a, vi b) { return _mm_or_si128(a, b); }
  static vi bit_xor(vi a, vi b) { return _mm_xor_si128(a, b); }
  static vi and_not(vi a, vi b) { return _mm_andnot_si128(a, b); }
  static vi add(vi a, vi b) { return _mm_add_epi32(a, b); }
  static vi sub(vi a, vi b) { return _mm_sub_epi32(a, b); }
  static vi mul_lo(vi a, vi b) { return sse2_mul_lo(a, b); }
  template <int k>
  static vi shift_right(vi a) {
    return _mm_srli_epi32(a, k);
  }
  template <int k>
  static vi shift_left(vi a) {
    return _mm_slli_epi32(a, k);
  }
};

// Double lanes.
struct sse2_doubles {
  using vd = __m128d;

  static vd splat_d(double x) { return _mm_set1_pd(x); }
  static vd load_d(const double* p) { return _mm_loadu_pd(p); }
  static vd add_d(vd a, vd b) { return _mm_add_pd(a, b); }
  static vd sub_d(vd a, vd b) { return _mm_sub_pd(a, b); }
  static vd mul_d(vd a, vd b) { return _mm_mul_pd(a, b); }
  static vd div_d(vd a, vd b) { return _mm_div_pd(a, b); }
  static vd floor_d(vd a) { return sse2_floor(a); }
  static vd sqrt_d(vd a) { return _mm_sqrt_pd(a); }
  static vd abs_d(vd a) { return _mm_andnot_pd(_mm_set1_pd(-0.0), a); }
  static vd min_d(vd a, vd b) { return _mm_min_pd(a, b); }
  static vd max_d(vd a, vd b) { return _mm_max_pd(a, b); }
  static vd ramp_d() { return _mm_setr_pd(0.0, 1.0); }
  static void store_d(double* p, vd a) { _mm_storeu_pd(p, a); }
  template <int k>
  static vd shift_left_d(vd a) {
    return _mm_castsi128_pd(_mm_slli_epi64(_mm_castpd_si128(a), k));
  }
  static vd xor_d(vd a, vd b) { return _mm_xor_pd(a, b); }
  // a b + c, rounded twice: SSE2 has no fused multiply-add, and so no
  // fused_mul_add_d. mul_add_any_d is for formulas whose bounds hold with
  // either rounding; one that needs a single rounding cannot get two.
  static vd mul_add_any_d(vd a, vd b, vd c) { return _mm_add_pd(_mm_mul_pd(a, b), c); }

  // A mask of double lanes: all ones where set.
  using md = __m128d;
  static md less_d(vd a, vd b) { return _mm_cmplt_pd(a, b); }
  static md at_least_d(vd a, vd b) { return _mm_cmpge_pd(a, b); }
  static vd select_d(md m, vd a, vd b) { return _mm_or_pd(_mm_and_pd(m, a), _mm_andnot_pd(m, b)); }
};

struct sse2_lanes : sse2_words, sse2_doubles {};
