// SSE2 operations that the instruction set lacks, shared by every SSE2
// adapter. Like the kernel bodies, this file includes nothing and is
// included inside an adapter source's unnamed namespace, after
// <emmintrin.h>.

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
