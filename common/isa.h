// Instruction-set levels, and the choice of a plug-in's kernel set, made
// once when the library loads.
//
// Levels: 0 portable C++, on any processor and either byte order; 1 the
// processor's baseline vector set (SSE2 on x86-64, NEON on little-endian
// aarch64), which needs no check; 2 AVX2 with FMA; 3 AVX-512 F, BW, VL and
// DQ. Every level gives the portable path's bytes.
#pragma once

// Highest level the build may use. Test builds lower it to hold every path
// to the same bytes on one machine.
#ifndef EFFECTS_ISA_LIMIT
#define EFFECTS_ISA_LIMIT 3
#endif

// The levels this build compiles: an adapter source outside them is empty.
#if defined(__x86_64__) && EFFECTS_ISA_LIMIT >= 1
#define EFFECTS_SSE2 1
#endif
#if defined(__x86_64__) && EFFECTS_ISA_LIMIT >= 2
#define EFFECTS_AVX2 1
#endif
#if defined(__x86_64__) && EFFECTS_ISA_LIMIT >= 3
#define EFFECTS_AVX512 1
#endif
#if defined(__aarch64__) && defined(__ARM_NEON) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ && \
    EFFECTS_ISA_LIMIT >= 1
#define EFFECTS_NEON 1
#endif

namespace effects {

// The highest level that this build has and this processor runs.
inline int cpu_level() {
#if defined(EFFECTS_SSE2)
  __builtin_cpu_init();
#if defined(EFFECTS_AVX512) && defined(EFFECTS_AVX512_EMULATED)
  // A test build whose AVX-512 adapters run on AVX2 through an emulation.
  if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) return 3;
#endif
#if defined(EFFECTS_AVX512)
  if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
      __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512dq"))
    return 3;
#endif
#if defined(EFFECTS_AVX2)
  if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) return 2;
#endif
  return 1;
#elif defined(EFFECTS_NEON)
  return 1;
#else
  return 0;
#endif
}

// The set of the highest level up to cpu_level() that the plug-in has
// (by_level holds one per level, null where it has none; level 0 is always
// there). Meant for the initialiser of a constant at namespace scope, so it
// runs once, while the library loads.
template <class Set>
const Set& pick(const Set* const (&by_level)[4]) {
  for (int level = cpu_level(); level > 0; --level)
    if (by_level[level]) return *by_level[level];
  return *by_level[0];
}

}  // namespace effects
