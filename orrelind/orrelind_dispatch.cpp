// The choice of Orrelind's kernel set, once, while the library loads. The
// AVX2 and AVX-512 sets resample frames of any size through SSE2; the
// portable set works out the source points of moving values by the C
// library alone.
#include "orrelind_dispatch.h"

namespace {

const orrelind_kernel_set orrelind_portable_kernels = {orrelind_resample_portable,
                                                       orrelind_resample_portable, nullptr};
#if defined(EFFECTS_SSE2)
const orrelind_kernel_set orrelind_sse2_kernels = {orrelind_resample_sse2, orrelind_resample_sse2,
                                                   &orrelind_moving_sse2};
#endif
#if defined(EFFECTS_AVX2)
const orrelind_kernel_set orrelind_avx2_kernels = {orrelind_resample_avx2, orrelind_resample_sse2,
                                                   &orrelind_moving_avx2};
#endif
#if defined(EFFECTS_AVX512)
const orrelind_kernel_set orrelind_avx512_kernels = {
    orrelind_resample_avx512, orrelind_resample_sse2, &orrelind_moving_avx512};
#endif
#if defined(EFFECTS_NEON)
const orrelind_kernel_set orrelind_neon_kernels = {orrelind_resample_neon, orrelind_resample_neon,
                                                   &orrelind_moving_neon};
#endif

}  // namespace

extern const orrelind_kernel_set* const orrelind_kernel_sets[4] = {
    &orrelind_portable_kernels,
#if defined(EFFECTS_SSE2)
    &orrelind_sse2_kernels,
#elif defined(EFFECTS_NEON)
    &orrelind_neon_kernels,
#else
    nullptr,
#endif
#if defined(EFFECTS_AVX2)
    &orrelind_avx2_kernels,
#else
    nullptr,
#endif
#if defined(EFFECTS_AVX512)
    &orrelind_avx512_kernels,
#else
    nullptr,
#endif
};

namespace {

const orrelind_kernel_set& orrelind_active = effects::pick(orrelind_kernel_sets);

}  // namespace

const orrelind_kernel_set& orrelind_kernels() { return orrelind_active; }
