// Generic libFuzzer driver for a frei0r plug-in.
//
// Turns the fuzz input into a hostile call sequence on two twin instances of
// one frame size (up to 64 x 64): parameter sets with arbitrary doubles (NaN,
// infinities, huge, negative, out-of-table indices), reads, and updates with
// arbitrary frames and times that go forward, repeat, go back or are not
// numbers, and calls with null instances or frames, which must write and
// advance nothing (they go to one twin only). Every update runs on both
// twins, one with separate buffers and one in place, and f0r_update2 (where
// exported) with second and third inputs of their own; any difference
// between the twins, a written input frame or a parameter read that differs
// traps. The sanitizers catch the rest.
#pragma once

#include <cstddef>
#include <cstdint>

namespace fuzzing {

// `name` is the plug-in's file name without ".so". Always returns 0.
int run_plugin(const char* name, const uint8_t* data, size_t size);

}  // namespace fuzzing
