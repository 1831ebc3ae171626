// The AVX2 operations every AVX2 adapter shares: 32-bit lanes, eight to a
// vector, and doubles, four. An adapter derives from avx2_lanes and adds
// its own operations. Included inside an adapter source's target region
// ("avx2,fma": the level has both) and unnamed namespace, after
// <immintrin.h>; includes nothing.

// 32-bit lanes.
struct avx2_words {
  using vi = __m256i;

  static vi load(const uint32_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
  }
  static void store(uint32_t* p, vi a) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), a); }
  static vi splat(uint32_t x) { return _mm256_set1_epi32(int(x)); }
  static vi bit_and(vi a, vi b) { return _mm256_and_si256(a, b); }
  static vi bit_or(vi a, vi b) { return _mm256_or_si256(a, b); }
  static vi bit_xor(vi a, vi b) { return _mm256_xor_si256(a, b); }
  static vi and_not(vi a, vi b) { return _mm256_andnot_si256(a, b); }
  static vi add(vi a, vi b) { return _mm256_add_epi32(a, b); }
  static vi sub(vi a, vi b) { return _mm256_sub_epi32(a, b); }
  static vi mul_lo(vi a, vi b) { return _mm256_mullo_epi32(a, b); }
  template <int k>
  static vi shift_right(vi a) {
    return _mm256_srli_epi32(a, k);
  }
  template <int k>
  static vi shift_left(vi a) {
    return _mm256_slli_epi32(a, k);
  }
};

// Double lanes.
struct avx2_doubles {
  using vd = __m256d;

  static vd splat_d(double x) { return _mm256_set1_pd(x); }
  static vd load_d(const double* p) { return _mm256_loadu_pd(p); }
  static vd add_d(vd a, vd b) { return _mm256_add_pd(a, b); }
  static vd sub_d(vd a, vd b) { return _mm256_sub_pd(a, b); }
  static vd mul_d(vd a, vd b) { return _mm256_mul_pd(a, b); }
  static vd div_d(vd a, vd b) { return _mm256_div_pd(a, b); }
  static vd floor_d(vd a) { return _mm256_floor_pd(a); }
  static vd sqrt_d(vd a) { return _mm256_sqrt_pd(a); }
  static vd abs_d(vd a) { return _mm256_andnot_pd(_mm256_set1_pd(-0.0), a); }
  static vd min_d(vd a, vd b) { return _mm256_min_pd(a, b); }
  static vd max_d(vd a, vd b) { return _mm256_max_pd(a, b); }
  static vd ramp_d() { return _mm256_setr_pd(0.0, 1.0, 2.0, 3.0); }
  static void store_d(double* p, vd a) { _mm256_storeu_pd(p, a); }
  template <int k>
  static vd shift_left_d(vd a) {
    return _mm256_castsi256_pd(_mm256_slli_epi64(_mm256_castpd_si256(a), k));
  }
  static vd xor_d(vd a, vd b) { return _mm256_xor_pd(a, b); }
  // a b + c, rounded once; mul_add_any_d (rounded once or twice, for
  // formulas whose bounds hold either way) is the fused one here.
  static vd fused_mul_add_d(vd a, vd b, vd c) { return _mm256_fmadd_pd(a, b, c); }
  static vd mul_add_any_d(vd a, vd b, vd c) { return fused_mul_add_d(a, b, c); }

  // A mask of double lanes: all ones where set.
  using md = __m256d;
  static md less_d(vd a, vd b) { return _mm256_cmp_pd(a, b, _CMP_LT_OQ); }
  static md at_least_d(vd a, vd b) { return _mm256_cmp_pd(a, b, _CMP_GE_OQ); }
  static vd select_d(md m, vd a, vd b) { return _mm256_blendv_pd(b, a, m); }
};

struct avx2_lanes : avx2_words, avx2_doubles {};
