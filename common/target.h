// Target regions: the code between EFFECTS_TARGET_BEGIN("avx2,fma") and
// EFFECTS_TARGET_END is compiled for that instruction set, and is only ever
// called on a processor that has it (isa.h). A region includes nothing of
// the standard library, and the kernel bodies it includes include nothing
// themselves and are placed in an unnamed namespace: so no copy of a shared
// inline function compiled for the wider set can reach the rest of the
// library.
#pragma once

#define EFFECTS_PRAGMA(...) _Pragma(#__VA_ARGS__)

#if defined(__clang__)
#define EFFECTS_TARGET_BEGIN(isa) \
  EFFECTS_PRAGMA(clang attribute push(__attribute__((target(isa))), apply_to = function))
#define EFFECTS_TARGET_END EFFECTS_PRAGMA(clang attribute pop)
#else
#define EFFECTS_TARGET_BEGIN(isa) EFFECTS_PRAGMA(GCC push_options) EFFECTS_PRAGMA(GCC target(isa))
#define EFFECTS_TARGET_END EFFECTS_PRAGMA(GCC pop_options)
#endif

// GCC 12's own AVX-512 headers leave the pass-through operand of some
// builtins undefined on purpose, and then warn about it in whatever file
// uses them. Placed before <immintrin.h> in the AVX-512 sources; the warning
// says nothing about our code.
#if defined(__GNUC__) && !defined(__clang__)
#define EFFECTS_AVX512_HEADERS_QUIET                             \
  EFFECTS_PRAGMA(GCC diagnostic ignored "-Wmaybe-uninitialized") \
  EFFECTS_PRAGMA(GCC diagnostic ignored "-Wuninitialized")
#else
#define EFFECTS_AVX512_HEADERS_QUIET
#endif

// The instruction sets an AVX-512 adapter is compiled for. A test build that
// emulates AVX-512 (tests/support/avx512_emulated.h) compiles the adapters
// for AVX2 instead, so that they run on a processor without AVX-512.
// Clang 18 (Apple's 17) and later also want the 512-bit registers named
// (evex512), which older compilers do not know.
#if defined(EFFECTS_AVX512_EMULATED)
#define EFFECTS_AVX512_ISA(isa) "avx2,fma"
#elif defined(__clang__) && ((!defined(__apple_build_version__) && __clang_major__ >= 18) || \
                             (defined(__apple_build_version__) && __clang_major__ >= 17))
#define EFFECTS_AVX512_ISA(isa) isa ",evex512"
#else
#define EFFECTS_AVX512_ISA(isa) isa
#endif
