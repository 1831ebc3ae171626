// The choice of bramquil's kernel set, once, while the library loads.
#include "bramquil_dispatch.h"

extern const bramquil_kernel_set* const bramquil_kernel_sets[effects::level_count] =
    EFFECTS_KERNEL_SETS(&bramquil_portable_kernels, &bramquil_sse2_kernels,
                        &bramquil_neon_kernels, &bramquil_avx2_kernels, nullptr);

namespace {

const bramquil_kernel_set& bramquil_chosen = effects::pick(bramquil_kernel_sets);

}  // namespace

const bramquil_kernel_set& bramquil_kernels() { return bramquil_chosen; }
