// Allocation interposer: see alloc_fail.h.
//
// Defined in the test executable, these functions come first in the global
// symbol scope, so a plug-in opened with RTLD_LOCAL still binds its malloc and
// operator new here. They forward to the sanitizer runtime's allocator when
// one is loaded (its interceptors are exported under __interceptor_*), else
// to glibc's own entry points; no dlsym, which could itself allocate.
#include "alloc_fail.h"

#include <cstddef>
#include <cstdlib>
#include <new>

extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void __libc_free(void*);
void* __interceptor_malloc(size_t) __attribute__((weak));
void* __interceptor_calloc(size_t, size_t) __attribute__((weak));
void* __interceptor_realloc(void*, size_t) __attribute__((weak));
void __interceptor_free(void*) __attribute__((weak));
}

namespace {

bool tracking = false;
std::size_t fail_at = 0;
bool fail_after = false;
std::size_t attempt_count = 0;
long live_blocks = 0;

// True when this allocation attempt must fail.
bool should_fail() {
  if (!tracking) return false;
  ++attempt_count;
  if (fail_at == 0) return false;
  return attempt_count == fail_at || (fail_after && attempt_count > fail_at);
}

void* real_malloc(size_t n) {
  return __interceptor_malloc ? __interceptor_malloc(n) : __libc_malloc(n);
}
void* real_calloc(size_t n, size_t m) {
  return __interceptor_calloc ? __interceptor_calloc(n, m) : __libc_calloc(n, m);
}
void* real_realloc(void* p, size_t n) {
  return __interceptor_realloc ? __interceptor_realloc(p, n) : __libc_realloc(p, n);
}
void real_free(void* p) {
  if (__interceptor_free)
    __interceptor_free(p);
  else
    __libc_free(p);
}

void* counted(void* p) {
  if (p && tracking) ++live_blocks;
  return p;
}

}  // namespace

namespace alloc_fail {

void fail_nth(std::size_t n, bool fail_all_after) {
  fail_at = n;
  fail_after = fail_all_after;
}
void disarm() {
  fail_at = 0;
  fail_after = false;
}
std::size_t attempts() { return attempt_count; }
long outstanding() { return live_blocks; }
void reset_counts() {
  attempt_count = 0;
  live_blocks = 0;
}
void track(bool on) { tracking = on; }

}  // namespace alloc_fail

extern "C" {

__attribute__((visibility("default"))) void* malloc(size_t n) {
  if (should_fail()) return nullptr;
  return counted(real_malloc(n));
}

__attribute__((visibility("default"))) void* calloc(size_t n, size_t m) {
  if (should_fail()) return nullptr;
  return counted(real_calloc(n, m));
}

__attribute__((visibility("default"))) void* realloc(void* p, size_t n) {
  if (should_fail()) return nullptr;
  void* q = real_realloc(p, n);
  // A successful realloc of null is a new block; of a block, a move.
  if (q && !p && tracking) ++live_blocks;
  return q;
}

__attribute__((visibility("default"))) void free(void* p) {
  if (p && tracking) --live_blocks;
  real_free(p);
}

}  // extern "C"

// The replaceable allocation operators, so that C++ plug-ins fail the same
// way (the sanitizer runtime would otherwise serve them without malloc).
void* operator new(std::size_t n) {
  void* p = malloc(n ? n : 1);
  if (!p) throw std::bad_alloc();
  return p;
}
void* operator new[](std::size_t n) { return operator new(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return malloc(n ? n : 1); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return malloc(n ? n : 1); }
void operator delete(void* p) noexcept { free(p); }
void operator delete[](void* p) noexcept { free(p); }
void operator delete(void* p, std::size_t) noexcept { free(p); }
void operator delete[](void* p, std::size_t) noexcept { free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { free(p); }
