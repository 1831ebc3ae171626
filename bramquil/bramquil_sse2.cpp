// bramquil's kernels for SSE2, the x86-64 baseline: two doubles or four
// pixels a step.
#include "bramquil_dispatch.h"

#if defined(EFFECTS_SSE2)
#include <emmintrin.h>

namespace {

#include "bramquil_transpose_sse.h"
#include "common/sse2_ops.h"

struct sse2 : sse2_lanes {
  static constexpr size_t dlanes = 2;
  static constexpr size_t lanes = 4;

  static vd and_d(md m, vd a) { return _mm_and_pd(m, a); }
  static bool same_d(vd a, vd b) { return _mm_movemask_pd(_mm_cmpeq_pd(a, b)) == 3; }
  // Adding 2^52 puts a whole number below 2^32 into the low mantissa bits.
  static void store_index(uint32_t* p, vd a) {
    const __m128i bits = _mm_castpd_si128(_mm_add_pd(a, _mm_set1_pd(4503599627370496.0)));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(p),
                     _mm_shuffle_epi32(bits, _MM_SHUFFLE(3, 1, 2, 0)));
  }

  static bool any_equal(vi a, uint32_t x) {
    return _mm_movemask_epi8(_mm_cmpeq_epi32(a, splat(x))) != 0;
  }
  static vi reverse(vi a) { return _mm_shuffle_epi32(a, _MM_SHUFFLE(0, 1, 2, 3)); }
  template <class Index>
  static vi gather(const uint32_t* ring, const uint64_t* offset, const Index* pos) {
    return _mm_setr_epi32(int(ring[offset[0] + pos[0]]), int(ring[offset[1] + pos[1]]),
                          int(ring[offset[2] + pos[2]]), int(ring[offset[3] + pos[3]]));
  }
  template <class Index>
  static vi gather(const uint32_t* ring, uint64_t offset, const Index* pos) {
    const uint32_t* slot = ring + offset;
    return _mm_setr_epi32(int(slot[pos[0]]), int(slot[pos[1]]), int(slot[pos[2]]),
                          int(slot[pos[3]]));
  }

  static void transpose4(const uint32_t* const s[4], uint32_t* const d[4]) { transpose4_sse(s, d); }
};

#include "common/scalar_ops.h"
#include "bramquil_body.h"

}  // namespace

extern const bramquil_kernel_set bramquil_sse2_kernels = make_kernels<sse2>();

#endif
