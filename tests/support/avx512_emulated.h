// The AVX-512 intrinsics, emulated, for a test build on a processor without
// AVX-512 (EFFECTS_AVX512_EMULATED): included by the AVX-512 adapters in
// place of <immintrin.h>, so that their code runs on any AVX2 processor and
// the suites hold it to the shipped bytes there too. Never in a shipped
// build.
//
// SIMDe supplies the intrinsics. What version 0.7.4 (Debian 12) lacks, or
// gets wrong (roundscale towards minus infinity), is written out below, lane
// by lane or from AVX2, exactly as Intel documents it: a wrong fill fails the
// suites rather than hiding a fault, since the adapters' bytes are compared
// with the portable path's.
#pragma once
#include <immintrin.h>
#define SIMDE_ENABLE_NATIVE_ALIASES
#include <simde/x86/avx512.h>

#include <cmath>
#include <cstdint>

namespace avx512_emulated {

inline simde__m512i from(const void* p) { return simde_mm512_loadu_si512(p); }

inline __m256i mask_vector(__mmask8 k) {
  const __m256i bits = _mm256_setr_epi32(1, 2, 4, 8, 16, 32, 64, 128);
  return _mm256_cmpeq_epi32(_mm256_and_si256(_mm256_set1_epi32(k), bits), bits);
}
inline __mmask8 mask_of(__m256i v) { return __mmask8(_mm256_movemask_ps(_mm256_castsi256_ps(v))); }

inline __m256i mask_sub_epi32(__m256i src, __mmask8 k, __m256i a, __m256i b) {
  return _mm256_blendv_epi8(src, _mm256_sub_epi32(a, b), mask_vector(k));
}
inline __mmask8 cmpeq_epi32_mask(__m256i a, __m256i b) { return mask_of(_mm256_cmpeq_epi32(a, b)); }
inline __mmask8 cmplt_epi32_mask(__m256i a, __m256i b) { return mask_of(_mm256_cmpgt_epi32(b, a)); }
inline __mmask8 testn_epi32_mask(__m256i a, __m256i b) {
  return mask_of(_mm256_cmpeq_epi32(_mm256_and_si256(a, b), _mm256_setzero_si256()));
}

inline __m256i cvttpd_epi32(simde__m512d a) {
  const __m128i low = _mm256_cvttpd_epi32(simde_mm512_extractf64x4_pd(a, 0));
  const __m128i high = _mm256_cvttpd_epi32(simde_mm512_extractf64x4_pd(a, 1));
  return _mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1);
}
inline __m256 cvtpd_ps(simde__m512d a) {
  const __m128 low = _mm256_cvtpd_ps(simde_mm512_extractf64x4_pd(a, 0));
  const __m128 high = _mm256_cvtpd_ps(simde_mm512_extractf64x4_pd(a, 1));
  return _mm256_insertf128_ps(_mm256_castps128_ps256(low), high, 1);
}
inline simde__m512d cvtepi32_pd(__m256i a) {
  return simde_mm512_insertf64x4(
      simde_mm512_castpd256_pd512(_mm256_cvtepi32_pd(_mm256_castsi256_si128(a))),
      _mm256_cvtepi32_pd(_mm256_extracti128_si256(a, 1)), 1);
}
inline simde__m512d roundscale_pd(simde__m512d a, int mode) {
  // Only the one rounding the adapters ask for.
  if (mode != (_MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC)) __builtin_trap();
  return simde_mm512_insertf64x4(
      simde_mm512_castpd256_pd512(_mm256_floor_pd(simde_mm512_extractf64x4_pd(a, 0))),
      _mm256_floor_pd(simde_mm512_extractf64x4_pd(a, 1)), 1);
}

// The lane-by-lane ones.
inline simde__m512i cvttps_epi32(simde__m512 a) {
  alignas(64) float f[16];
  alignas(64) int32_t r[16];
  simde_mm512_store_ps(f, a);
  for (int k = 0; k < 16; ++k)
    r[k] = std::isfinite(f[k]) && std::fabs(f[k]) < 0x1p31f ? int32_t(f[k]) : INT32_MIN;
  return from(r);
}
inline simde__m512 cvtepi32_ps(simde__m512i a) {
  alignas(64) int32_t i[16];
  alignas(64) float r[16];
  simde_mm512_store_si512(i, a);
  for (int k = 0; k < 16; ++k) r[k] = float(i[k]);
  return simde_mm512_load_ps(r);
}
inline __m256i cvtepi64_epi32(simde__m512i a) {
  alignas(64) int64_t i[8];
  alignas(32) int32_t r[8];
  simde_mm512_store_si512(i, a);
  for (int k = 0; k < 8; ++k) r[k] = int32_t(uint32_t(uint64_t(i[k])));
  return _mm256_load_si256(reinterpret_cast<const __m256i*>(r));
}
inline simde__m512i cvtepu32_epi64(__m256i a) {
  alignas(32) uint32_t x[8];
  alignas(64) uint64_t r[8];
  _mm256_store_si256(reinterpret_cast<__m256i*>(x), a);
  for (int k = 0; k < 8; ++k) r[k] = x[k];
  return from(r);
}
inline simde__m512i sra_epi32(simde__m512i a, __m128i count) {
  alignas(64) int32_t v[16];
  simde_mm512_store_si512(v, a);
  const uint64_t c = uint64_t(_mm_cvtsi128_si64(count));
  for (int k = 0; k < 16; ++k) v[k] = c > 31 ? (v[k] < 0 ? -1 : 0) : (v[k] >> c);
  return from(v);
}
inline simde__m512i mulhi_epu16(simde__m512i a, simde__m512i b) {
  alignas(64) uint16_t x[32], y[32];
  simde_mm512_store_si512(x, a);
  simde_mm512_store_si512(y, b);
  for (int k = 0; k < 32; ++k) x[k] = uint16_t((uint32_t(x[k]) * y[k]) >> 16);
  return from(x);
}
// The mask of the lanes where `holds` is true of a's and b's 32-bit values.
template <class T, class Test>
inline __mmask16 mask16_where(simde__m512i a, simde__m512i b, Test holds) {
  alignas(64) T x[16], y[16];
  simde_mm512_store_si512(x, a);
  simde_mm512_store_si512(y, b);
  unsigned m = 0;
  for (int k = 0; k < 16; ++k) m |= unsigned(holds(x[k], y[k])) << k;
  return __mmask16(m);
}
inline __mmask16 testn_epi32_mask_512(simde__m512i a, simde__m512i b) {
  return mask16_where<uint32_t>(a, b, [](uint32_t x, uint32_t y) { return (x & y) == 0; });
}
inline __mmask16 cmplt_epi32_mask_512(simde__m512i a, simde__m512i b) {
  return mask16_where<int32_t>(a, b, [](int32_t x, int32_t y) { return x < y; });
}
// a + b rounded towards minus infinity: the nearest sum, one step down
// where it lies above the exact sum (the error term of the exact two-sum).
inline simde__m512d add_round_pd(simde__m512d a, simde__m512d b, int mode) {
  if (mode != (_MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC)) __builtin_trap();
  alignas(64) double x[8], y[8];
  simde_mm512_store_pd(x, a);
  simde_mm512_store_pd(y, b);
  for (int k = 0; k < 8; ++k) {
    const double s = x[k] + y[k];
    const double bb = s - x[k];
    const double error = (x[k] - (s - bb)) + (y[k] - bb);
    x[k] = error < 0 ? std::nextafter(s, -INFINITY) : s;
  }
  return simde_mm512_load_pd(x);
}

}  // namespace avx512_emulated

// Each name is undefined first: SIMDe defines some of them as aliases of its
// own, and these are the ones the adapters are held to.
#undef _mm256_mask_sub_epi32
#define _mm256_mask_sub_epi32 avx512_emulated::mask_sub_epi32
#undef _mm256_cmpeq_epi32_mask
#define _mm256_cmpeq_epi32_mask avx512_emulated::cmpeq_epi32_mask
#undef _mm256_cmplt_epi32_mask
#define _mm256_cmplt_epi32_mask avx512_emulated::cmplt_epi32_mask
#undef _mm256_testn_epi32_mask
#define _mm256_testn_epi32_mask avx512_emulated::testn_epi32_mask
#undef _mm512_cvttpd_epi32
#define _mm512_cvttpd_epi32 avx512_emulated::cvttpd_epi32
#undef _mm512_cvtpd_ps
#define _mm512_cvtpd_ps avx512_emulated::cvtpd_ps
#undef _mm512_cvtepi32_pd
#define _mm512_cvtepi32_pd avx512_emulated::cvtepi32_pd
#undef _mm512_roundscale_pd
#define _mm512_roundscale_pd avx512_emulated::roundscale_pd
#undef _mm512_cvttps_epi32
#define _mm512_cvttps_epi32 avx512_emulated::cvttps_epi32
#undef _mm512_cvtepi32_ps
#define _mm512_cvtepi32_ps avx512_emulated::cvtepi32_ps
#undef _mm512_cvtepi64_epi32
#define _mm512_cvtepi64_epi32 avx512_emulated::cvtepi64_epi32
#undef _mm512_cvtepu32_epi64
#define _mm512_cvtepu32_epi64 avx512_emulated::cvtepu32_epi64
#undef _mm512_sra_epi32
#define _mm512_sra_epi32 avx512_emulated::sra_epi32
#undef _mm512_mulhi_epu16
#define _mm512_mulhi_epu16 avx512_emulated::mulhi_epu16
#undef _mm512_testn_epi32_mask
#define _mm512_testn_epi32_mask avx512_emulated::testn_epi32_mask_512
#undef _mm512_cmplt_epi32_mask
#define _mm512_cmplt_epi32_mask avx512_emulated::cmplt_epi32_mask_512
#undef _mm512_add_round_pd
#define _mm512_add_round_pd avx512_emulated::add_round_pd
// SIMDe 0.7.4 defines this alias with the masked form's four arguments.
#undef _mm512_madd_epi16
#define _mm512_madd_epi16 simde_mm512_madd_epi16
