// The AVX-512 operations every AVX-512 adapter shares: 32-bit lanes,
// sixteen to a vector, and doubles, eight, with a mask register per double
// vector. An adapter derives from avx512_lanes (or one half of it) and adds
// its own operations. Included inside an adapter source's target region
// (at least "avx512f,avx512bw": EFFECTS_AVX512_ISA) and unnamed namespace,
// after common/avx512_intrinsics.h; includes nothing. An operation that
// needs more than F and BW is compiled only where an adapter calls it.

// 32-bit lanes.
struct avx512_words {
  using vi = __m512i;

  static vi load(const uint32_t* p) { return _mm512_loadu_si512(p); }
  static void store(uint32_t* p, vi a) { _mm512_storeu_si512(p, a); }
  static vi splat(uint32_t x) { return _mm512_set1_epi32(int(x)); }
  static vi bit_and(vi a, vi b) { return _mm512_and_si512(a, b); }
  static vi bit_or(vi a, vi b) { return _mm512_or_si512(a, b); }
  static vi bit_xor(vi a, vi b) { return _mm512_xor_si512(a, b); }
  static vi and_not(vi a, vi b) { return _mm512_andnot_si512(a, b); }
  static vi add(vi a, vi b) { return _mm512_add_epi32(a, b); }
  static vi sub(vi a, vi b) { return _mm512_sub_epi32(a, b); }
  static vi mul_lo(vi a, vi b) { return _mm512_mullo_epi32(a, b); }
  template <int k>
  static vi shift_right(vi a) {
    return _mm512_srli_epi32(a, k);
  }
  template <int k>
  static vi shift_left(vi a) {
    return _mm512_slli_epi32(a, k);
  }
};

// Double lanes.
struct avx512_doubles {
  using vd = __m512d;

  static vd splat_d(double x) { return _mm512_set1_pd(x); }
  static vd load_d(const double* p) { return _mm512_loadu_pd(p); }
  static vd add_d(vd a, vd b) { return _mm512_add_pd(a, b); }
  static vd sub_d(vd a, vd b) { return _mm512_sub_pd(a, b); }
  static vd mul_d(vd a, vd b) { return _mm512_mul_pd(a, b); }
  static vd div_d(vd a, vd b) { return _mm512_div_pd(a, b); }
  static vd floor_d(vd a) {
    return _mm512_roundscale_pd(a, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC);
  }
  static vd sqrt_d(vd a) { return _mm512_sqrt_pd(a); }
  static vd abs_d(vd a) { return _mm512_abs_pd(a); }
  static vd min_d(vd a, vd b) { return _mm512_min_pd(a, b); }
  static vd max_d(vd a, vd b) { return _mm512_max_pd(a, b); }
  static vd ramp_d() { return _mm512_setr_pd(0.0, 1.0, 2.0, 3.0, 4.0, 5.0, 6.0, 7.0); }
  static void store_d(double* p, vd a) { _mm512_storeu_pd(p, a); }
  template <int k>
  static vd shift_left_d(vd a) {
    return _mm512_castsi512_pd(_mm512_slli_epi64(_mm512_castpd_si512(a), k));
  }
  static vd xor_d(vd a, vd b) { return _mm512_xor_pd(a, b); }  // DQ
  // a b + c, rounded once; mul_add_any_d (rounded once or twice, for
  // formulas whose bounds hold either way) is the fused one here.
  static vd fused_mul_add_d(vd a, vd b, vd c) { return _mm512_fmadd_pd(a, b, c); }
  static vd mul_add_any_d(vd a, vd b, vd c) { return fused_mul_add_d(a, b, c); }

  // A mask of double lanes: bit i for lane i.
  using md = __mmask8;
  static md less_d(vd a, vd b) { return _mm512_cmp_pd_mask(a, b, _CMP_LT_OQ); }
  static md at_least_d(vd a, vd b) { return _mm512_cmp_pd_mask(a, b, _CMP_GE_OQ); }
  static vd select_d(md m, vd a, vd b) { return _mm512_mask_blend_pd(m, b, a); }
};

struct avx512_lanes : avx512_words, avx512_doubles {};
