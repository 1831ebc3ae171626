// The kernel sets a test can call directly: those of every level this build
// has and this processor runs, from a plug-in's NAME_kernel_sets.
#pragma once

#include <string>
#include <vector>

#include "common/isa.h"

template <class Set>
struct kernel_level {
  int level;
  const Set* set;
  std::string name() const { return "level " + std::to_string(level); }
};

template <class Set>
std::vector<kernel_level<Set>> runnable_kernel_sets(
    const Set* const (&sets)[effects::level_count]) {
  std::vector<kernel_level<Set>> all;
  for (int level = 0; level <= effects::cpu_level(); ++level)
    if (sets[level]) all.push_back({level, sets[level]});
  return all;
}
