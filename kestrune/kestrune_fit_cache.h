// Which of a mode's two ways to its bytes an update takes: the integer form
// (kestrune_fitted.h) where it is usable for the update's values, else the
// doubles. Making a form takes a pass over every value it could meet, so an
// instance keeps the last one of each mode and makes it again only when a
// value it depends on changes. Only speed depends on this choice: both ways
// give the same bytes.
#pragma once

#include <cstdint>

#include "kestrune_dispatch.h"

// The integer forms an instance made last, with the gain and opacity each
// was made for (the difference and the mask depend on the gain alone).
struct kestrune_fit_cache {
  struct entry {
    uint64_t gain_bits = 0;
    uint64_t opacity_bits = 0;
    bool made = false;
    kestrune_integer_fit fit{};
  };
  entry by_mode[3];
};

// One update's compositing with the kernels chosen for this processor when
// the library loaded; refreshes `cache` first when the mode needs it.
void kestrune_composite(kestrune_job& work, kestrune_fit_cache& cache);
