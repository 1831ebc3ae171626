// The choice of bramquil's kernel set, once, while the library loads.
#include "bramquil_dispatch.h"

namespace {

const bramquil_kernel_set* const bramquil_by_level[4] = {&bramquil_portable_kernels,
#if defined(EFFECTS_SSE2)
                                                         &bramquil_sse2_kernels,
#elif defined(EFFECTS_NEON)
                                                         &bramquil_neon_kernels,
#else
                                                         nullptr,
#endif
#if defined(EFFECTS_AVX2)
                                                         &bramquil_avx2_kernels,
#else
                                                         nullptr,
#endif
                                                         nullptr};

const bramquil_kernel_set& bramquil_active = effects::pick(bramquil_by_level);

}  // namespace

const bramquil_kernel_set& bramquil_kernels() { return bramquil_active; }
