// The portable resampler, built on every processor, and the choice of
// adapter, made once when the library loads.
#include "orrelind_resample.h"

namespace {

#include "orrelind_resample_kernel.h"

#if EFFECTS_ISA_LIMIT >= 1 && defined(__x86_64__)
#define ORRELIND_X86 1
#endif

// The widest adapter with 32-bit lane indices (and pairs of neighbours read
// as one, which needs two columns) that the build allows and the processor
// has; null where there is none.
orrelind_resample_fn orrelind_choose_narrow() {
#if defined(ORRELIND_X86) && EFFECTS_ISA_LIMIT >= 2
  __builtin_cpu_init();
  if (orrelind_resample_avx512 && __builtin_cpu_supports("avx512f") &&
      __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512dq") &&
      __builtin_cpu_supports("avx512bw"))
    return orrelind_resample_avx512;
  if (orrelind_resample_avx2 && __builtin_cpu_supports("avx2")) return orrelind_resample_avx2;
#endif
  return nullptr;
}

// The widest adapter that indexes in 64 bits: the baseline vector set where
// the build allows it (every x86-64 and aarch64 processor has it), else the
// portable one.
orrelind_resample_fn orrelind_choose_wide() {
  if (orrelind_resample_sse2) return orrelind_resample_sse2;
  if (orrelind_resample_neon) return orrelind_resample_neon;
  return orrelind_resample_portable;
}

const orrelind_resample_fn orrelind_wide = orrelind_choose_wide();
const orrelind_resample_fn orrelind_narrow = orrelind_choose_narrow();

}  // namespace

extern const orrelind_resample_fn orrelind_resample_portable = &orrelind_resample_run<portable>;

orrelind_resample_fn orrelind_choose_resampler(uint32_t width, uint64_t pixel_count) {
  if (orrelind_narrow && width >= 2 && pixel_count < (uint64_t(1) << 31)) return orrelind_narrow;
  return orrelind_wide;
}
