// The choice of kestrune's kernel set, once, while the library loads.
#include "kestrune_dispatch.h"

extern const kestrune_kernel_set* const kestrune_kernel_sets[effects::level_count] =
    EFFECTS_KERNEL_SETS(&kestrune_portable_kernels, &kestrune_sse2_kernels,
                        &kestrune_neon_kernels, &kestrune_avx2_kernels, &kestrune_avx512_kernels);

namespace {

const kestrune_kernel_set& kestrune_chosen = effects::pick(kestrune_kernel_sets);

}  // namespace

const kestrune_kernel_set& kestrune_kernels() { return kestrune_chosen; }
