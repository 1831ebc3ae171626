// vestrale's passes for SSE2, the x86-64 baseline: four pixels a step.
#include "vestrale_dispatch.h"

#if defined(EFFECTS_SSE2)
#include <emmintrin.h>

namespace {

struct sse2 {
  using vi = __m128i;
  static constexpr size_t lanes = 4;
  static constexpr size_t align = 16;
  static vi load(const uint32_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
  static void store(uint32_t* p, vi a) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), a); }
  static void stream(uint32_t* p, vi a) { _mm_stream_si128(reinterpret_cast<__m128i*>(p), a); }
  static vi splat(uint32_t x) { return _mm_set1_epi32(int32_t(x)); }
  static vi bit_and(vi a, vi b) { return _mm_and_si128(a, b); }
  static vi bit_or(vi a, vi b) { return _mm_or_si128(a, b); }
  static vi and_not(vi a, vi b) { return _mm_andnot_si128(a, b); }
  static void fence() { _mm_sfence(); }
};

#include "vestrale_body.h"

}  // namespace

extern const vestrale_kernel_set vestrale_sse2_kernels = make_kernels<sse2>();

#endif
