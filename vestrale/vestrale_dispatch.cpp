// The choice of vestrale's kernel set, once, while the library loads.
#include "vestrale_dispatch.h"

extern const vestrale_kernel_set* const vestrale_kernel_sets[effects::level_count] =
    EFFECTS_KERNEL_SETS(&vestrale_portable_kernels, &vestrale_sse2_kernels,
                        &vestrale_neon_kernels, nullptr, nullptr);

namespace {

const vestrale_kernel_set& vestrale_chosen = effects::pick(vestrale_kernel_sets);

}  // namespace

const vestrale_kernel_set& vestrale_kernels() { return vestrale_chosen; }
