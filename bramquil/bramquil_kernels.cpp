// The choice of bramquil's kernels: the highest instruction-set level that
// this library was built with and the processor has, made once at load.
#include "bramquil_kernels.h"

namespace {

const bramquil_kernel_set* bramquil_choose() {
#if defined(__x86_64__) && EFFECTS_ISA_LIMIT >= 2
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx2")) return &bramquil_avx2_kernels;
#endif
#if defined(__x86_64__) && EFFECTS_ISA_LIMIT >= 1
  return &bramquil_sse2_kernels;
#elif defined(BRAMQUIL_NEON)
  return &bramquil_neon_kernels;
#else
  return &bramquil_portable_kernels;
#endif
}

const bramquil_kernel_set* const bramquil_active = bramquil_choose();

}  // namespace

const bramquil_kernel_set& bramquil_kernels() { return *bramquil_active; }
