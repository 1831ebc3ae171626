// The API header, and the one way our libraries export a function.
//
// Every plug-in exports exactly the f0r_* entry points and nothing else: the
// build hides all other symbols (and on ELF a version script holds the
// exported set to f0r_*), and EFFECTS_EXPORT marks each entry point's
// definition: in effect_entry.cpp, and in EFFECTS_OFFERS_UPDATE2 (effect.h).
#pragma once

// The API header declares its functions without C linkage guards.
extern "C" {
#include <frei0r.h>
}

#if defined(_WIN32)
#define EFFECTS_EXPORT extern "C" __declspec(dllexport)
#else
#define EFFECTS_EXPORT extern "C" __attribute__((visibility("default")))
#endif
