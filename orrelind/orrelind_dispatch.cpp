// The choice of Orrelind's kernel set, once, while the library loads.
#include "orrelind_dispatch.h"

extern const orrelind_kernel_set* const orrelind_kernel_sets[effects::level_count] =
    EFFECTS_KERNEL_SETS(&orrelind_portable_kernels, &orrelind_sse2_kernels,
                        &orrelind_neon_kernels, &orrelind_avx2_kernels, &orrelind_avx512_kernels);

namespace {

const orrelind_kernel_set& orrelind_chosen = effects::pick(orrelind_kernel_sets);

}  // namespace

const orrelind_kernel_set& orrelind_kernels() { return orrelind_chosen; }
