// Allocation interposer: see alloc_fail.h.
//
// ELF: defined in the test executable, these functions come first in the
// global symbol scope, so a plug-in opened with RTLD_LOCAL still binds its
// malloc and operator new here. They forward to the sanitizer runtime's
// allocator when one is loaded (its interceptors are exported under
// __interceptor_*), else to glibc's own entry points; no dlsym, which could
// itself allocate.
//
// Windows: every module binds its imports itself, through its own import
// address table. route_imports() points a module's entries for the C
// runtime's malloc, calloc, realloc and free (operator new, linked in from
// libstdc++, calls malloc) and for VirtualAlloc and VirtualFree at the
// counting versions below, which call the real ones by the addresses the
// system gives. The test program routes its own table before main, and the
// test host hands it every plug-in it loads, so that, as on ELF, everything
// allocated inside a scope counts.
#include "alloc_fail.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>

#ifdef _WIN32
#include <windows.h>

#include <cstring>

#include "plugin_host.h"
#else
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
#endif

namespace {

bool tracking = false;
// Attempts fail_at .. fail_last fail (none while fail_at is 0).
std::size_t fail_at = 0;
std::size_t fail_last = 0;
std::size_t attempt_count = 0;
long live_blocks = 0;

// True when this allocation attempt must fail.
bool should_fail() {
  if (!tracking) return false;
  ++attempt_count;
  if (fail_at == 0) return false;
  return attempt_count >= fail_at && attempt_count <= fail_last;
}

void* counted(void* p) {
  if (p && tracking) ++live_blocks;
  return p;
}

#ifndef _WIN32
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

#endif

}  // namespace

namespace alloc_fail {

void fail_nth(std::size_t n, bool fail_all_after) {
  fail_at = n;
  fail_last = fail_all_after ? SIZE_MAX : n;
}
void disarm() {
  fail_at = 0;
  fail_last = 0;
}
std::size_t attempts() { return attempt_count; }
long outstanding() { return live_blocks; }
void reset_counts() {
  attempt_count = 0;
  live_blocks = 0;
}
void track(bool on) { tracking = on; }

}  // namespace alloc_fail

#ifdef _WIN32

namespace {

template <typename F>
F real(const char* library, const char* name) {
  const FARPROC p = GetProcAddress(GetModuleHandleA(library), name);
  if (!p) std::abort();
  F f;
  static_assert(sizeof f == sizeof p, "function pointers differ in size");
  std::memcpy(&f, &p, sizeof f);
  return f;
}

template <typename F>
ULONG_PTR entry(F f) {
  ULONG_PTR e;
  static_assert(sizeof e == sizeof f, "function pointers differ in size");
  std::memcpy(&e, &f, sizeof e);
  return e;
}

// The C runtime every module of ours is linked against (see
// cmake/x86_64-w64-mingw32.cmake).
const auto real_malloc = real<void* (*)(size_t)>("msvcrt.dll", "malloc");
const auto real_calloc = real<void* (*)(size_t, size_t)>("msvcrt.dll", "calloc");
const auto real_realloc = real<void* (*)(void*, size_t)>("msvcrt.dll", "realloc");
const auto real_free = real<void (*)(void*)>("msvcrt.dll", "free");
const auto real_virtual_alloc =
    real<LPVOID(WINAPI*)(LPVOID, SIZE_T, DWORD, DWORD)>("kernel32.dll", "VirtualAlloc");
const auto real_virtual_free =
    real<BOOL(WINAPI*)(LPVOID, SIZE_T, DWORD)>("kernel32.dll", "VirtualFree");

void* counting_malloc(size_t n) {
  if (should_fail()) return nullptr;
  return counted(real_malloc(n));
}

void* counting_calloc(size_t n, size_t m) {
  if (should_fail()) return nullptr;
  return counted(real_calloc(n, m));
}

void* counting_realloc(void* p, size_t n) {
  if (should_fail()) return nullptr;
  void* q = real_realloc(p, n);
  if (q && !p && tracking) ++live_blocks;
  return q;
}

void counting_free(void* p) {
  if (p && tracking) --live_blocks;
  real_free(p);
}

// A reservation is one block until its release; committing pages inside it
// is an attempt that can fail, but no block of its own.
LPVOID WINAPI counting_virtual_alloc(LPVOID address, SIZE_T size, DWORD type, DWORD protect) {
  if (should_fail()) {
    SetLastError(ERROR_COMMITMENT_LIMIT);
    return nullptr;
  }
  LPVOID p = real_virtual_alloc(address, size, type, protect);
  if (p && (type & MEM_RESERVE) && tracking) ++live_blocks;
  return p;
}

BOOL WINAPI counting_virtual_free(LPVOID address, SIZE_T size, DWORD type) {
  if (address && type == MEM_RELEASE && tracking) --live_blocks;
  return real_virtual_free(address, size, type);
}

struct route {
  const char* name;
  ULONG_PTR to;
};

const route routes[] = {
    {"malloc", entry(&counting_malloc)},
    {"calloc", entry(&counting_calloc)},
    {"realloc", entry(&counting_realloc)},
    {"free", entry(&counting_free)},
    {"VirtualAlloc", entry(&counting_virtual_alloc)},
    {"VirtualFree", entry(&counting_virtual_free)},
};

void route_imports(void* module) {
  auto* base = static_cast<BYTE*>(module);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& imports =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (imports.VirtualAddress == 0) return;
  for (auto* library =
           reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
       library->Name != 0; ++library) {
    const auto* names = reinterpret_cast<const IMAGE_THUNK_DATA*>(
        base + (library->OriginalFirstThunk ? library->OriginalFirstThunk : library->FirstThunk));
    auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + library->FirstThunk);
    for (; names->u1.AddressOfData != 0; ++names, ++slots) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      const auto* by_name =
          reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
      for (const route& r : routes) {
        if (std::strcmp(reinterpret_cast<const char*>(by_name->Name), r.name) != 0) continue;
        DWORD old_protection;
        VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE,
                       &old_protection);
        slots->u1.Function = r.to;
        VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, old_protection,
                       &old_protection);
      }
    }
  }
}

// libstdc++ on winpthreads creates the lock of its emergency exception pool
// (a small malloc) the first time the pool serves, so a bad_alloc thrown when
// every allocation fails would recurse until the stack runs out. One throw
// whose own exception cannot be allocated, while the lock still can, sets
// the lock up: afterwards operator new fails as on ELF.
void set_up_exception_pool() {
  alloc_fail::reset_counts();
  alloc_fail::track(true);
  fail_at = 1;
  fail_last = 2;  // operator new's malloc and the exception's
  try {
    ::operator delete(::operator new(1));
  } catch (const std::bad_alloc&) {
  }
  alloc_fail::disarm();
  alloc_fail::track(false);
  alloc_fail::reset_counts();
}

// Before main: the test program itself, and every plug-in a test loads.
const bool routed = (route_imports(GetModuleHandleA(nullptr)), set_up_exception_pool(),
                     testhost::set_load_hook(&route_imports), true);

}  // namespace

#else

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

#endif
