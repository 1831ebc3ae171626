// The choice of vestrale's kernel set, once, while the library loads.
#include "vestrale_dispatch.h"

namespace {

const vestrale_kernel_set* const vestrale_by_level[4] = {&vestrale_portable_kernels,
#if defined(EFFECTS_SSE2)
                                                         &vestrale_sse2_kernels,
#elif defined(EFFECTS_NEON)
                                                         &vestrale_neon_kernels,
#else
                                                         nullptr,
#endif
                                                         nullptr, nullptr};

const vestrale_kernel_set& vestrale_active = effects::pick(vestrale_by_level);

}  // namespace

const vestrale_kernel_set& vestrale_kernels() { return vestrale_active; }
