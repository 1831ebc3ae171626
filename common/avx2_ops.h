// The AVX2 operations every AVX2 adapter shares: 32-bit lanes, eight to a
// vector, and doubles, four. An adapter derives from avx2_lanes and adds
// its own operations. Included inside an adapter source's target region and
// unnamed namespace, after <immintrin.h>; includes nothing.

struct avx2_lanes {
  using vi = __m256i;
  using vd = __m256d;

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

  static vd splat_d(double x) { return _mm256_set1_pd(x); }
  static vd load_d(const double* p) { return _mm256_loadu_pd(p); }
  static vd add_d(vd a, vd b) { return _mm256_add_pd(a, b); }
  static vd sub_d(vd a, vd b) { return _mm256_sub_pd(a, b); }
  static vd mul_d(vd a, vd b) { return _mm256_mul_pd(a, b); }
  static vd div_d(vd a, vd b) { return _mm256_div_pd(a, b); }
  static vd floor_d(vd a) { return _mm256_floor_pd(a); }
};
