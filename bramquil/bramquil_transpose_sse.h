// d[i][r] = s[r][i] for a 4 × 4 block of pixels, in 128-bit registers: the
// column moves of both x86 kernel sources. Included inside their unnamed
// namespace (and target region), after <emmintrin.h> or <immintrin.h>.

inline void transpose4_sse(const uint32_t* const s[4], uint32_t* const d[4]) {
  const __m128i r0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s[0]));
  const __m128i r1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s[1]));
  const __m128i r2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s[2]));
  const __m128i r3 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s[3]));
  const __m128i t0 = _mm_unpacklo_epi32(r0, r1);
  const __m128i t1 = _mm_unpacklo_epi32(r2, r3);
  const __m128i t2 = _mm_unpackhi_epi32(r0, r1);
  const __m128i t3 = _mm_unpackhi_epi32(r2, r3);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(d[0]), _mm_unpacklo_epi64(t0, t1));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(d[1]), _mm_unpackhi_epi64(t0, t1));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(d[2]), _mm_unpacklo_epi64(t2, t3));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(d[3]), _mm_unpackhi_epi64(t2, t3));
}
