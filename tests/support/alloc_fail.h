// Allocation-failure injection for tests.
//
// The test executables define malloc, calloc, realloc, free and the
// replaceable operator new/delete themselves (on Windows: route the loaded
// modules' imports of them, and of VirtualAlloc and VirtualFree, through
// here), so every allocation a loaded plug-in makes goes through here before
// reaching the C library (or the sanitizer runtime). On Windows a
// VirtualAlloc is an allocation too: a reservation counts as a block until
// VirtualFree releases it, and committing pages is an attempt that can fail. While armed, the N-th
// allocation fails: malloc, calloc and realloc return null (realloc leaves the old block alone),
// the throwing operator new throws std::bad_alloc and the nothrow form returns null.
//
// Use a scoped guard around exactly the plug-in calls under test, with the
// frames they need allocated beforehand: anything else allocated inside the
// scope (a returned std::vector, a failing EXPECT's message) is counted and
// may fail too.
#pragma once

#include <cstddef>

namespace alloc_fail {

// Counting starts at 1: fail_nth(1) fails the very next allocation.
// fail_nth(0) disarms. Every allocation after the failing one succeeds
// unless `fail_all_after` is set.
void fail_nth(std::size_t n, bool fail_all_after = false);
void disarm();

// Allocations attempted (successful or not) since the last reset_counts().
std::size_t attempts();
// Blocks obtained minus blocks released since the last reset_counts(),
// counting only calls made while tracking is on.
long outstanding();
void reset_counts();
void track(bool on);

// Arms failure of the n-th allocation and turns on tracking for its lifetime.
class scope {
 public:
  explicit scope(std::size_t n, bool fail_all_after = false) {
    reset_counts();
    track(true);
    fail_nth(n, fail_all_after);
  }
  ~scope() {
    disarm();
    track(false);
  }
  scope(const scope&) = delete;
  scope& operator=(const scope&) = delete;
};

// Tracks (counts) allocations without making any fail.
class counting {
 public:
  counting() {
    reset_counts();
    track(true);
  }
  ~counting() { track(false); }
  counting(const counting&) = delete;
  counting& operator=(const counting&) = delete;
};

}  // namespace alloc_fail
