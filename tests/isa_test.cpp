// The processor level the plug-ins choose their kernels by, read with cpuid
// and xgetbv (common/isa.h), against the compiler runtime's own probe where
// the build has one: the same answers on whatever machine runs the tests.
#include <gtest/gtest.h>

#include "common/isa.h"

namespace {

#if defined(EFFECTS_SSE2)
TEST(CpuLevel, CpuidAgreesWithTheCompilerRuntime) {
  __builtin_cpu_init();
  const bool avx2_fma = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
  const bool avx512 = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                      __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512dq");
  const effects::x86_features f = effects::read_x86_features();
  EXPECT_EQ(f.avx2_fma, avx2_fma);
  EXPECT_EQ(f.avx512, avx512);
  int expected = 1;
#if defined(EFFECTS_AVX2)
  if (avx2_fma) expected = 2;
#endif
#if defined(EFFECTS_AVX512) && defined(EFFECTS_AVX512_EMULATED)
  if (avx2_fma) expected = 3;
#elif defined(EFFECTS_AVX512)
  if (avx512) expected = 3;
#endif
  EXPECT_EQ(effects::cpu_level(), expected);
}
#else
TEST(CpuLevel, BaselineOnlyWithoutX86) {
#if defined(EFFECTS_NEON)
  EXPECT_EQ(effects::cpu_level(), 1);
#else
  EXPECT_EQ(effects::cpu_level(), 0);
#endif
}
#endif

}  // namespace
