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

#if defined(EFFECTS_SSE2)
#include <cpuid.h>
#if defined(__APPLE__)
#include <sys/sysctl.h>
#endif
#endif

namespace effects {

#if defined(EFFECTS_SSE2)
// What this x86-64 processor and its operating system let a program use,
// read with cpuid and xgetbv alone: no compiler runtime's probe, which a
// macOS build has none of. An instruction set counts only when the system
// saves its registers on a thread switch, as XCR0 says.
struct x86_features {
  bool avx2_fma;  // AVX2 and FMA, with the ymm state enabled
  bool avx512;    // AVX-512 F, BW, VL and DQ, with the zmm and mask state enabled
};

inline x86_features read_x86_features() {
  x86_features f{false, false};
  unsigned a, b, c, d;
  if (!__get_cpuid(1, &a, &b, &c, &d)) return f;
  const bool osxsave = c & (1u << 27), avx = c & (1u << 28), fma = c & (1u << 12);
  if (!osxsave || !avx) return f;
  unsigned xcr0_lo, xcr0_hi;
  __asm__("xgetbv" : "=a"(xcr0_lo), "=d"(xcr0_hi) : "c"(0));
  const bool ymm_state = (xcr0_lo & 0x6u) == 0x6u;  // xmm and ymm
  bool zmm_state = (xcr0_lo & 0xE6u) == 0xE6u;      // and opmask, zmm0-15 upper, zmm16-31
  if (!__get_cpuid_count(7, 0, &a, &b, &c, &d)) return f;
  const bool avx2 = b & (1u << 5);
  const bool avx512 = (b & (1u << 16)) && (b & (1u << 17)) && (b & (1u << 30)) && (b & (1u << 31));
  f.avx2_fma = ymm_state && avx2 && fma;
#if defined(__APPLE__)
  // macOS turns the zmm state on for a thread only at its first AVX-512
  // instruction, so XCR0 shows it off until then; the system tells instead.
  if (ymm_state && avx512 && !zmm_state) {
    zmm_state = true;
    static const char* const names[] = {"hw.optional.avx512f", "hw.optional.avx512bw",
                                        "hw.optional.avx512vl", "hw.optional.avx512dq"};
    for (const char* name : names) {
      int on = 0;
      size_t size = sizeof on;
      if (sysctlbyname(name, &on, &size, nullptr, 0) != 0 || !on) zmm_state = false;
    }
  }
#endif
  f.avx512 = zmm_state && avx512;
  return f;
}
#endif

// The highest level that this build has and this processor runs.
inline int cpu_level() {
#if defined(EFFECTS_SSE2)
  const x86_features f = read_x86_features();
  (void)f;
#if defined(EFFECTS_AVX512) && defined(EFFECTS_AVX512_EMULATED)
  // A test build whose AVX-512 adapters run on AVX2 through an emulation.
  if (f.avx2_fma) return 3;
#endif
#if defined(EFFECTS_AVX512)
  if (f.avx512) return 3;
#endif
#if defined(EFFECTS_AVX2)
  if (f.avx2_fma) return 2;
#endif
  return 1;
#elif defined(EFFECTS_NEON)
  return 1;
#else
  return 0;
#endif
}

constexpr int level_count = 4;

// The set of the highest level up to cpu_level() that the plug-in has
// (by_level holds one per level, null where it has none; level 0 is always
// there). Meant for the initialiser of a constant at namespace scope, so it
// runs once, while the library loads.
template <class Set>
const Set& pick(const Set* const (&by_level)[level_count]) {
  for (int level = cpu_level(); level > 0; --level)
    if (by_level[level]) return *by_level[level];
  return *by_level[0];
}

}  // namespace effects

// A plug-in's kernel sets by level, the initialiser of its NAME_kernel_sets:
// the address of each level's set, or nullptr where the plug-in has none,
// kept only for the levels this build compiles, so that a set outside them
// is never named. Level 1 is SSE2 on x86-64 and NEON on aarch64.
#define EFFECTS_KERNEL_SETS(portable, sse2, neon, avx2, avx512) \
  { portable, EFFECTS_LEVEL_1(sse2, neon), EFFECTS_LEVEL_2(avx2), EFFECTS_LEVEL_3(avx512) }

#if defined(EFFECTS_SSE2)
#define EFFECTS_LEVEL_1(sse2, neon) sse2
#elif defined(EFFECTS_NEON)
#define EFFECTS_LEVEL_1(sse2, neon) neon
#else
#define EFFECTS_LEVEL_1(sse2, neon) nullptr
#endif
#if defined(EFFECTS_AVX2)
#define EFFECTS_LEVEL_2(avx2) avx2
#else
#define EFFECTS_LEVEL_2(avx2) nullptr
#endif
#if defined(EFFECTS_AVX512)
#define EFFECTS_LEVEL_3(avx512) avx512
#else
#define EFFECTS_LEVEL_3(avx512) nullptr
#endif
