// vestrale's passes for SSE2, the x86-64 baseline: four pixels a step.
#include "vestrale_dispatch.h"

#if defined(EFFECTS_SSE2)
#include <emmintrin.h>

namespace {

#include "common/sse2_ops.h"

struct sse2 : sse2_lanes {
  static constexpr size_t lanes = 4;
  static constexpr size_t align = 16;
  static void stream(uint32_t* p, vi a) { _mm_stream_si128(reinterpret_cast<__m128i*>(p), a); }
  static void fence() { _mm_sfence(); }
};

#include "common/scalar_ops.h"
#include "vestrale_body.h"

}  // namespace

extern const vestrale_kernel_set vestrale_sse2_kernels = make_kernels<sse2>();

#endif
