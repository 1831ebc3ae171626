// The intrinsics of the AVX-512 adapters: <immintrin.h>, quieted as
// target.h says. A test build that emulates AVX-512 on a processor without
// it (EFFECTS_AVX512_EMULATED) puts the emulation's folder on these
// sources' include path, and its <avx512_emulated.h> stands in here; no
// shipped build has either.
#pragma once

#include "common/target.h"

#if defined(EFFECTS_AVX512_EMULATED)
#include <avx512_emulated.h>
#else
EFFECTS_AVX512_HEADERS_QUIET
#include <immintrin.h>
#endif
