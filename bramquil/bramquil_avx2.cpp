// bramquil's kernels for AVX2: four doubles or eight pixels a step. Chosen
// at load time only on processors that have it.
#include "bramquil_dispatch.h"

#if defined(EFFECTS_AVX2)
#include <immintrin.h>

#include "common/target.h"

EFFECTS_TARGET_BEGIN("avx2,fma")

namespace {

#include "common/avx2_ops.h"

#include "bramquil_transpose_sse.h"

struct avx2 : avx2_lanes {
  static constexpr size_t dlanes = 4;
  static constexpr size_t lanes = 8;

  static vd and_d(md m, vd a) { return _mm256_and_pd(m, a); }
  static bool same_d(vd a, vd b) {
    return _mm256_movemask_pd(_mm256_cmp_pd(a, b, _CMP_EQ_OQ)) == 15;
  }
  // Adding 2^52 puts a whole number below 2^32 into the low mantissa bits.
  static void store_index(uint32_t* p, vd a) {
    const __m256i bits = _mm256_castpd_si256(_mm256_add_pd(a, _mm256_set1_pd(4503599627370496.0)));
    const __m256i low =
        _mm256_permutevar8x32_epi32(bits, _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm256_castsi256_si128(low));
  }

  static bool any_equal(vi a, uint32_t x) {
    return _mm256_movemask_epi8(_mm256_cmpeq_epi32(a, splat(x))) != 0;
  }
  static vi reverse(vi a) {
    return _mm256_permutevar8x32_epi32(a, _mm256_setr_epi32(7, 6, 5, 4, 3, 2, 1, 0));
  }
  template <class Index>
  static vi gather(const uint32_t* ring, const uint64_t* offset, const Index* pos) {
    return _mm256_setr_epi32(int(ring[offset[0] + pos[0]]), int(ring[offset[1] + pos[1]]),
                             int(ring[offset[2] + pos[2]]), int(ring[offset[3] + pos[3]]),
                             int(ring[offset[4] + pos[4]]), int(ring[offset[5] + pos[5]]),
                             int(ring[offset[6] + pos[6]]), int(ring[offset[7] + pos[7]]));
  }
  template <class Index>
  static vi gather(const uint32_t* ring, uint64_t offset, const Index* pos) {
    const uint32_t* slot = ring + offset;
    return _mm256_setr_epi32(int(slot[pos[0]]), int(slot[pos[1]]), int(slot[pos[2]]),
                             int(slot[pos[3]]), int(slot[pos[4]]), int(slot[pos[5]]),
                             int(slot[pos[6]]), int(slot[pos[7]]));
  }

  static void transpose4(const uint32_t* const s[4], uint32_t* const d[4]) { transpose4_sse(s, d); }
};

#include "common/scalar_ops.h"
#include "bramquil_body.h"

}  // namespace

extern const bramquil_kernel_set bramquil_avx2_kernels = make_kernels<avx2>();

EFFECTS_TARGET_END

#endif
