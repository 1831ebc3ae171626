/* A loader of macOS shared libraries for the tests: see macho_loader.h.
 *
 * Written from the Mach-O format as Apple documents it in <mach-o/loader.h>,
 * <mach-o/fat.h> and the dyld info opcodes: the header and load commands in
 * the file's own (little-endian) order, a universal file's table of slices
 * in big-endian order, rebase and bind information as opcode streams
 * (LC_DYLD_INFO), exports as a trie. What the macOS build does not contain
 * (chained fixups, thread-local variables, re-exports, resolvers, 32-bit
 * code) is refused with a message rather than half supported.
 *
 * The imports are bound by name, whichever library the file names, to the
 * functions of the table below: this process's own C library (malloc & co.
 * come from the test program, whose allocation switch they reach), and a few
 * functions of our own where macOS has one that glibc has not. On arm64 the
 * list holds no variadic function and none taking or returning long double,
 * the two places where Apple's calling convention differs from Linux's for
 * calls into the C library. */
#define _GNU_SOURCE
#include "macho_loader.h"

#include <errno.h>
#include <fcntl.h>
#include <math.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

/* The format's constants. */
enum {
  FAT_MAGIC = 0xcafebabeu,
  FAT_MAGIC_64 = 0xcafebabfu,
  MH_MAGIC = 0xfeedfaceu,
  MH_MAGIC_64 = 0xfeedfacfu,
  MH_DYLIB = 6,
  MH_BUNDLE = 8,
  CPU_TYPE_X86_64 = 0x01000007,
  CPU_TYPE_ARM64 = 0x0100000c,
  LC_REQ_DYLD = (int)0x80000000u,
  LC_SEGMENT_64 = 0x19,
  LC_DYLD_INFO = 0x22,
  LC_DYLD_INFO_ONLY = 0x22 | LC_REQ_DYLD,
  LC_LOAD_WEAK_DYLIB = 0x18 | LC_REQ_DYLD,
  LC_RPATH = 0x1c | LC_REQ_DYLD,
  LC_DYLD_EXPORTS_TRIE = 0x33 | LC_REQ_DYLD,
  LC_DYLD_CHAINED_FIXUPS = 0x34 | LC_REQ_DYLD,
  VM_PROT_READ = 1,
  VM_PROT_WRITE = 2,
  VM_PROT_EXECUTE = 4,
  SECTION_TYPE = 0xff,
  S_MOD_INIT_FUNC_POINTERS = 0x9,
  S_MOD_TERM_FUNC_POINTERS = 0xa,
  S_THREAD_LOCAL_REGULAR = 0x11,
  S_THREAD_LOCAL_INIT_FUNCTION_POINTERS = 0x15,
  S_INIT_FUNC_OFFSETS = 0x16,
  REBASE_TYPE_POINTER = 1,
  BIND_TYPE_POINTER = 1,
  BIND_SYMBOL_FLAGS_WEAK_IMPORT = 0x1,
  EXPORT_SYMBOL_FLAGS_KIND_MASK = 0x03,
  EXPORT_SYMBOL_FLAGS_KIND_REGULAR = 0x00,
  EXPORT_SYMBOL_FLAGS_KIND_ABSOLUTE = 0x02,
  EXPORT_SYMBOL_FLAGS_REEXPORT = 0x08,
  EXPORT_SYMBOL_FLAGS_STUB_AND_RESOLVER = 0x10,
};

#if defined(__x86_64__)
#define HOST_CPU CPU_TYPE_X86_64
#elif defined(__aarch64__)
#define HOST_CPU CPU_TYPE_ARM64
#else
#define HOST_CPU 0
#endif

/* macOS on arm64 has 16 KiB pages: segments start on such a boundary. */
#define IMAGE_ALIGN ((size_t)16384)
#define MAX_SEGMENTS 16
#define MAX_EXIT_CALLS 256

struct segment {
  char name[17];
  uint64_t vmaddr, vmsize, fileoff, filesize;
  int initprot;
};

struct exit_call {
  void (*fn)(void *);
  void *arg;
};

struct image {
  struct image *next;
  uint8_t *base; /* where the lowest segment's vmaddr lies */
  size_t span;
  uint64_t vm_min;
  const uint8_t *header;
  int segment_count;
  struct segment segments[MAX_SEGMENTS];
  const uint8_t *trie; /* inside the mapped __LINKEDIT */
  uint64_t trie_size;
  int exit_count;
  struct exit_call exits[MAX_EXIT_CALLS];
  uint64_t term_addr, term_size; /* S_MOD_TERM_FUNC_POINTERS, if any */
};

static struct image *loaded_images;
static struct image *loading_image; /* while its initialisers run */

/* ---- Errors ---------------------------------------------------------- */

static char error_text[512];
static int error_pending;

static void fail(const char *format, ...) __attribute__((format(printf, 1, 2)));
static void fail(const char *format, ...) {
  va_list args;
  va_start(args, format);
  vsnprintf(error_text, sizeof error_text, format, args);
  va_end(args);
  error_pending = 1;
}

const char *macho_dlerror(void) {
  if (!error_pending) return NULL;
  error_pending = 0;
  return error_text;
}

/* ---- Functions macOS has and glibc has not --------------------------- */

static void loader_abort(const char *what) {
  fprintf(stderr, "macho loader: %s\n", what);
  abort();
}

static void apple_bzero(void *p, size_t n) { memset(p, 0, n); }

static void apple_memset_pattern16(void *p, const void *pattern, size_t n) {
  uint8_t *d = p;
  while (n >= 16) {
    memcpy(d, pattern, 16);
    d += 16;
    n -= 16;
  }
  memcpy(d, pattern, n);
}

/* Returned in two floating-point registers on both processors, as the
 * pair of doubles it is. */
struct sin_cos {
  double sin, cos;
};
static struct sin_cos apple_sincos_stret(double x) {
  struct sin_cos r = {sin(x), cos(x)};
  return r;
}

static uintptr_t apple_stack_chk_guard = (uintptr_t)0x5eb1e5c0ffee2bd1ull;
static void apple_stack_chk_fail(void) { loader_abort("stack smashing detected"); }

/* macOS's system information, asked by the plug-ins' processor probe for
 * AVX-512 where cpuid shows it and XCR0 not yet (macOS enables the state
 * at a thread's first use): here the answer is this processor's. */
static int apple_sysctlbyname(const char *name, void *old, size_t *old_size, void *new_value,
                              size_t new_size) {
  static const char *const features[] = {"avx512f", "avx512bw", "avx512vl", "avx512dq"};
  (void)new_value;
  (void)new_size;
  for (size_t i = 0; i < sizeof features / sizeof features[0]; ++i) {
    char full[32];
    snprintf(full, sizeof full, "hw.optional.%s", features[i]);
    if (strcmp(name, full) != 0) continue;
    int on = 0;
#if defined(__x86_64__)
    __builtin_cpu_init();
    switch (i) {
      case 0:
        on = __builtin_cpu_supports("avx512f");
        break;
      case 1:
        on = __builtin_cpu_supports("avx512bw");
        break;
      case 2:
        on = __builtin_cpu_supports("avx512vl");
        break;
      default:
        on = __builtin_cpu_supports("avx512dq");
        break;
    }
#endif
    if (!old_size || (old && *old_size < sizeof on)) {
      errno = ENOMEM;
      return -1;
    }
    if (old) memcpy(old, &on, sizeof on);
    *old_size = sizeof on;
    return 0;
  }
  errno = ENOENT;
  return -1;
}

/* Lazy imports are bound at load, so the binder is never reached. */
static void apple_dyld_stub_binder(void) { loader_abort("dyld_stub_binder called"); }

/* Registered destructors run when their image is closed, as dyld runs them
 * when it unloads one. */
static int apple_cxa_atexit(void (*fn)(void *), void *arg, void *dso) {
  struct image *owner = loading_image;
  for (struct image *m = loaded_images; m; m = m->next)
    if ((uint8_t *)dso >= m->base && (uint8_t *)dso < m->base + m->span) owner = m;
  if (!owner || owner->exit_count == MAX_EXIT_CALLS) return -1;
  owner->exits[owner->exit_count].fn = fn;
  owner->exits[owner->exit_count].arg = arg;
  ++owner->exit_count;
  return 0;
}

/* ---- The imports a library may have ---------------------------------- */

struct import {
  const char *name;
  void *address;
};

#define FUNCTION(name, f) \
  { name, (void *)(f) }
static const struct import imports[] = {
    /* Memory */
    FUNCTION("_malloc", malloc),
    FUNCTION("_calloc", calloc),
    FUNCTION("_realloc", realloc),
    FUNCTION("_free", free),
    FUNCTION("_memcpy", memcpy),
    FUNCTION("_memmove", memmove),
    FUNCTION("_memset", memset),
    FUNCTION("_memcmp", memcmp),
    FUNCTION("_bzero", apple_bzero),
    FUNCTION("___bzero", apple_bzero),
    FUNCTION("_memset_pattern16", apple_memset_pattern16),
    /* Mathematics */
    FUNCTION("_atan2", atan2),
    FUNCTION("_sin", sin),
    FUNCTION("_cos", cos),
    FUNCTION("___sincos_stret", apple_sincos_stret),
    FUNCTION("_exp2", exp2),
    FUNCTION("_floor", floor),
    FUNCTION("_ceil", ceil),
    /* System and runtime */
    FUNCTION("_sysctlbyname", apple_sysctlbyname),
    FUNCTION("___cxa_atexit", apple_cxa_atexit),
    {"___stack_chk_guard", &apple_stack_chk_guard},
    FUNCTION("___stack_chk_fail", apple_stack_chk_fail),
    FUNCTION("dyld_stub_binder", apple_dyld_stub_binder),
};

/* With EFFECTS_MACHO_MATHS=up (or down) the functions whose results a C
 * library may round differently are bound instead to this library's results
 * moved one unit in the last place up (or down): another admissible library,
 * one that rounds every inexact result otherwise. Results exact in every
 * library (exp2 of an integer, atan2 on an axis, sine and cosine of 0) stay
 * exact, and sine and cosine within -1..1. */
static int maths_nudge;

static double nudge(double r) { return nextafter(r, maths_nudge > 0 ? INFINITY : -INFINITY); }
static double nudge_unit(double r) {
  const double n = nudge(r);
  return n > 1.0 || n < -1.0 ? r : n;
}
static double nudged_atan2(double y, double x) {
  const double r = atan2(y, x);
  return y == 0.0 || x == 0.0 ? r : nudge(r);
}
static double nudged_sin(double x) { return x == 0.0 ? sin(x) : nudge_unit(sin(x)); }
static double nudged_cos(double x) { return x == 0.0 ? cos(x) : nudge_unit(cos(x)); }
static struct sin_cos nudged_sincos_stret(double x) {
  struct sin_cos r = {nudged_sin(x), nudged_cos(x)};
  return r;
}
static double nudged_exp2(double x) { return x == floor(x) ? exp2(x) : nudge(exp2(x)); }

static const struct import nudged_imports[] = {
    FUNCTION("_atan2", nudged_atan2), FUNCTION("_sin", nudged_sin),
    FUNCTION("_cos", nudged_cos),     FUNCTION("___sincos_stret", nudged_sincos_stret),
    FUNCTION("_exp2", nudged_exp2),
};
#undef FUNCTION

static const struct import *find_import(const char *name) {
  if (maths_nudge)
    for (size_t i = 0; i < sizeof nudged_imports / sizeof nudged_imports[0]; ++i)
      if (strcmp(nudged_imports[i].name, name) == 0) return &nudged_imports[i];
  for (size_t i = 0; i < sizeof imports / sizeof imports[0]; ++i)
    if (strcmp(imports[i].name, name) == 0) return &imports[i];
  return NULL;
}

/* ---- Reading --------------------------------------------------------- */

static uint32_t read_le32(const uint8_t *p) {
  return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}
static uint64_t read_le64(const uint8_t *p) {
  return (uint64_t)read_le32(p) | (uint64_t)read_le32(p + 4) << 32;
}
static uint32_t read_be32(const uint8_t *p) {
  return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | (uint32_t)p[3];
}
static uint64_t read_be64(const uint8_t *p) {
  return (uint64_t)read_be32(p) << 32 | read_be32(p + 4);
}

/* A byte stream with bounds: every read past its end sets `bad`. */
struct stream {
  const uint8_t *p, *end;
  int bad;
};

static uint64_t read_uleb(struct stream *s) {
  uint64_t value = 0;
  for (int shift = 0;; shift += 7) {
    if (s->p == s->end || shift > 63) {
      s->bad = 1;
      return 0;
    }
    const uint8_t byte = *s->p++;
    value |= (uint64_t)(byte & 0x7f) << shift;
    if (!(byte & 0x80)) return value;
  }
}

static int64_t read_sleb(struct stream *s) {
  uint64_t value = 0;
  int shift = 0;
  uint8_t byte;
  do {
    if (s->p == s->end || shift > 63) {
      s->bad = 1;
      return 0;
    }
    byte = *s->p++;
    value |= (uint64_t)(byte & 0x7f) << shift;
    shift += 7;
  } while (byte & 0x80);
  if (shift < 64 && (byte & 0x40)) value |= ~(uint64_t)0 << shift;
  return (int64_t)value;
}

static const char *read_string(struct stream *s) {
  const uint8_t *nul = memchr(s->p, 0, (size_t)(s->end - s->p));
  if (!nul) {
    s->bad = 1;
    return "";
  }
  const char *string = (const char *)s->p;
  s->p = nul + 1;
  return string;
}

static const char *cpu_name(int32_t cpu) {
  switch (cpu) {
    case CPU_TYPE_X86_64:
      return "x86_64";
    case CPU_TYPE_ARM64:
      return "arm64";
    default:
      return "another processor";
  }
}

/* ---- Loading --------------------------------------------------------- */

struct load {
  const char *path;
  const uint8_t *file; /* the slice */
  uint64_t size;
  struct image *m;
  uint32_t rebase_off, rebase_size, bind_off, bind_size, lazy_off, lazy_size;
  uint32_t export_off, export_size;
  int have_dyld_info;
};

/* The slice for this processor, from a universal file or a thin one. */
static int pick_slice(struct load *l, const uint8_t *file, uint64_t size) {
  if (size < 8) {
    fail("%s: too short for a Mach-O file", l->path);
    return 0;
  }
  const uint32_t fat = read_be32(file);
  if (fat == FAT_MAGIC || fat == FAT_MAGIC_64) {
    const uint32_t count = read_be32(file + 4);
    const uint64_t entry = fat == FAT_MAGIC ? 20 : 32;
    if (count > 64 || 8 + count * entry > size) {
      fail("%s: truncated table of slices", l->path);
      return 0;
    }
    char found[128] = "";
    for (uint32_t i = 0; i < count; ++i) {
      const uint8_t *e = file + 8 + i * entry;
      const int32_t cpu = (int32_t)read_be32(e);
      const uint64_t offset = fat == FAT_MAGIC ? read_be32(e + 8) : read_be64(e + 8);
      const uint64_t length = fat == FAT_MAGIC ? read_be32(e + 12) : read_be64(e + 16);
      if (cpu == HOST_CPU) {
        if (offset > size || length > size - offset) {
          fail("%s: the %s slice lies past the end of the file", l->path, cpu_name(cpu));
          return 0;
        }
        l->file = file + offset;
        l->size = length;
        return 1;
      }
      if (strlen(found) < sizeof found - 24) {
        strcat(found, found[0] ? ", " : "");
        strcat(found, cpu_name(cpu));
      }
    }
    fail("%s: no %s slice (has %s)", l->path, cpu_name(HOST_CPU), found[0] ? found : "none");
    return 0;
  }
  l->file = file;
  l->size = size;
  return 1;
}

static int parse_commands(struct load *l) {
  const uint8_t *h = l->file;
  if (l->size < 32) {
    fail("%s: truncated Mach-O header", l->path);
    return 0;
  }
  const uint32_t magic = read_le32(h);
  if (magic == MH_MAGIC) {
    fail("%s: 32-bit Mach-O is not supported", l->path);
    return 0;
  }
  if (magic != MH_MAGIC_64) {
    fail("%s: not a Mach-O file", l->path);
    return 0;
  }
  const int32_t cpu = (int32_t)read_le32(h + 4);
  if (cpu != HOST_CPU) {
    fail("%s: code for %s, not %s", l->path, cpu_name(cpu), cpu_name(HOST_CPU));
    return 0;
  }
  const uint32_t type = read_le32(h + 12);
  if (type != MH_DYLIB && type != MH_BUNDLE) {
    fail("%s: not a library (file type %u)", l->path, type);
    return 0;
  }
  const uint32_t ncmds = read_le32(h + 16);
  const uint32_t sizeofcmds = read_le32(h + 20);
  if (sizeofcmds > l->size - 32) {
    fail("%s: load commands past the end of the file", l->path);
    return 0;
  }
  struct image *m = l->m;
  const uint8_t *c = h + 32;
  const uint8_t *end = c + sizeofcmds;
  for (uint32_t i = 0; i < ncmds; ++i) {
    if (end - c < 8) {
      fail("%s: load command %u past the end of the commands", l->path, i);
      return 0;
    }
    const uint32_t cmd = read_le32(c);
    const uint32_t cmdsize = read_le32(c + 4);
    if (cmdsize < 8 || cmdsize % 8 || cmdsize > (uint64_t)(end - c)) {
      fail("%s: load command %u has a bad size", l->path, i);
      return 0;
    }
    switch ((int)cmd) {
      case LC_SEGMENT_64: {
        if (cmdsize < 72) {
          fail("%s: segment command too short", l->path);
          return 0;
        }
        struct segment s;
        memcpy(s.name, c + 8, 16);
        s.name[16] = 0;
        s.vmaddr = read_le64(c + 24);
        s.vmsize = read_le64(c + 32);
        s.fileoff = read_le64(c + 40);
        s.filesize = read_le64(c + 48);
        s.initprot = (int)read_le32(c + 60);
        const uint32_t nsects = read_le32(c + 64);
        if (s.fileoff > l->size || s.filesize > l->size - s.fileoff || s.filesize > s.vmsize ||
            s.vmaddr + s.vmsize < s.vmaddr) {
          fail("%s: segment %s lies outside the file", l->path, s.name);
          return 0;
        }
        if ((uint64_t)nsects * 80 > cmdsize - 72) {
          fail("%s: segment %s lists more sections than it holds", l->path, s.name);
          return 0;
        }
        for (uint32_t k = 0; k < nsects; ++k) {
          const uint8_t *sect = c + 72 + k * 80;
          const uint32_t kind = read_le32(sect + 64) & SECTION_TYPE;
          if (kind >= S_THREAD_LOCAL_REGULAR && kind <= S_THREAD_LOCAL_INIT_FUNCTION_POINTERS) {
            fail("%s: thread-local variables are not supported", l->path);
            return 0;
          }
        }
        if (s.vmsize == 0) break;
        if (m->segment_count == MAX_SEGMENTS) {
          fail("%s: more than %d segments", l->path, MAX_SEGMENTS);
          return 0;
        }
        m->segments[m->segment_count++] = s;
        break;
      }
      case LC_DYLD_INFO:
      case LC_DYLD_INFO_ONLY:
        if (cmdsize < 48) {
          fail("%s: dyld info command too short", l->path);
          return 0;
        }
        l->have_dyld_info = 1;
        l->rebase_off = read_le32(c + 8);
        l->rebase_size = read_le32(c + 12);
        l->bind_off = read_le32(c + 16);
        l->bind_size = read_le32(c + 20);
        /* Weak binding (c + 24) only merges weak definitions across images,
         * and this image is the only Mach-O one: its own stay. */
        l->lazy_off = read_le32(c + 32);
        l->lazy_size = read_le32(c + 36);
        l->export_off = read_le32(c + 40);
        l->export_size = read_le32(c + 44);
        break;
      case LC_DYLD_EXPORTS_TRIE:
        if (cmdsize < 16) {
          fail("%s: exports trie command too short", l->path);
          return 0;
        }
        l->export_off = read_le32(c + 8);
        l->export_size = read_le32(c + 12);
        break;
      case LC_DYLD_CHAINED_FIXUPS:
        fail("%s: chained fixups are not supported", l->path);
        return 0;
      case LC_LOAD_WEAK_DYLIB:
      case LC_RPATH:
        break;
      default:
        if (cmd & (uint32_t)LC_REQ_DYLD) {
          fail("%s: load command 0x%x is not supported", l->path, cmd);
          return 0;
        }
    }
    c += cmdsize;
  }
  if (m->segment_count == 0) {
    fail("%s: no segments", l->path);
    return 0;
  }
  if (!l->have_dyld_info) {
    fail("%s: no rebase and bind information", l->path);
    return 0;
  }
  return 1;
}

/* The mapped address of `size` bytes at `offset` into segment `index`, or
 * null when they do not lie inside it. */
static uint8_t *segment_bytes(const struct image *m, uint64_t index, uint64_t offset,
                              uint64_t size) {
  if (index >= (uint64_t)m->segment_count) return NULL;
  const struct segment *s = &m->segments[index];
  if (offset > s->vmsize || size > s->vmsize - offset) return NULL;
  return m->base + (s->vmaddr - m->vm_min) + offset;
}

/* An opcode stream of the slice's __LINKEDIT, checked against the slice. */
static int linkedit_stream(struct load *l, uint32_t off, uint32_t size, const char *what,
                           struct stream *s) {
  if (off > l->size || size > l->size - off) {
    fail("%s: %s lies outside the file", l->path, what);
    return 0;
  }
  s->p = l->file + off;
  s->end = s->p + size;
  s->bad = 0;
  return 1;
}

static int map_segments(struct load *l) {
  struct image *m = l->m;
  uint64_t lo = UINT64_MAX, hi = 0;
  for (int i = 0; i < m->segment_count; ++i) {
    const struct segment *s = &m->segments[i];
    if (s->vmaddr < lo) lo = s->vmaddr;
    if (s->vmaddr + s->vmsize > hi) hi = s->vmaddr + s->vmsize;
  }
  if (lo % IMAGE_ALIGN || hi - lo > ((uint64_t)1 << 32)) {
    fail("%s: segments at unexpected addresses", l->path);
    return 0;
  }
  for (int i = 0; i < m->segment_count; ++i)
    for (int k = i + 1; k < m->segment_count; ++k) {
      const struct segment *a = &m->segments[i], *b = &m->segments[k];
      if (a->vmaddr < b->vmaddr + b->vmsize && b->vmaddr < a->vmaddr + a->vmsize) {
        fail("%s: segments %s and %s overlap", l->path, a->name, b->name);
        return 0;
      }
    }
  m->vm_min = lo;
  m->span = (size_t)((hi - lo + IMAGE_ALIGN - 1) / IMAGE_ALIGN * IMAGE_ALIGN);
  /* Reserve one alignment more, then trim to a 16 KiB boundary: arm64 code
   * reaches its data by page offsets. */
  const size_t reserve = m->span + IMAGE_ALIGN;
  uint8_t *raw = mmap(NULL, reserve, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) {
    fail("%s: cannot reserve %zu bytes: %s", l->path, m->span, strerror(errno));
    return 0;
  }
  uint8_t *base = (uint8_t *)(((uintptr_t)raw + IMAGE_ALIGN - 1) & ~(uintptr_t)(IMAGE_ALIGN - 1));
  if (base > raw) munmap(raw, (size_t)(base - raw));
  if (base + m->span < raw + reserve)
    munmap(base + m->span, (size_t)(raw + reserve - (base + m->span)));
  m->base = base;
  /* Each segment's file bytes; the rest of its pages stay zero. */
  for (int i = 0; i < m->segment_count; ++i) {
    const struct segment *s = &m->segments[i];
    memcpy(base + (s->vmaddr - lo), l->file + s->fileoff, (size_t)s->filesize);
    if (s->fileoff == 0 && s->filesize > 0) m->header = base + (s->vmaddr - lo);
  }
  if (!m->header) {
    fail("%s: no segment holds the header", l->path);
    return 0;
  }
  return 1;
}

static int rebase(struct load *l) {
  struct image *m = l->m;
  struct stream s;
  if (!linkedit_stream(l, l->rebase_off, l->rebase_size, "rebase information", &s)) return 0;
  const uint64_t slide = (uint64_t)(uintptr_t)m->base - m->vm_min;
  uint64_t segment = UINT64_MAX, offset = 0;
  while (s.p < s.end && !s.bad) {
    const uint8_t byte = *s.p++;
    const uint8_t immediate = byte & 0x0f;
    uint64_t count = 0, skip = 0;
    switch (byte & 0xf0) {
      case 0x00: /* REBASE_OPCODE_DONE */
        return 1;
      case 0x10: /* SET_TYPE_IMM */
        if (immediate != REBASE_TYPE_POINTER) {
          fail("%s: rebase of type %u is not supported", l->path, immediate);
          return 0;
        }
        continue;
      case 0x20: /* SET_SEGMENT_AND_OFFSET_ULEB */
        segment = immediate;
        offset = read_uleb(&s);
        continue;
      case 0x30: /* ADD_ADDR_ULEB */
        offset += read_uleb(&s);
        continue;
      case 0x40: /* ADD_ADDR_IMM_SCALED */
        offset += (uint64_t)immediate * 8;
        continue;
      case 0x50: /* DO_REBASE_IMM_TIMES */
        count = immediate;
        break;
      case 0x60: /* DO_REBASE_ULEB_TIMES */
        count = read_uleb(&s);
        break;
      case 0x70: /* DO_REBASE_ADD_ADDR_ULEB */
        count = 1;
        skip = read_uleb(&s);
        break;
      case 0x80: /* DO_REBASE_ULEB_TIMES_SKIPPING_ULEB */
        count = read_uleb(&s);
        skip = read_uleb(&s);
        break;
      default:
        fail("%s: unknown rebase opcode 0x%02x", l->path, byte);
        return 0;
    }
    for (uint64_t k = 0; k < count && !s.bad; ++k) {
      uint8_t *at = segment_bytes(m, segment, offset, 8);
      if (!at) {
        fail("%s: rebase outside the segments", l->path);
        return 0;
      }
      uint64_t value;
      memcpy(&value, at, 8);
      value += slide;
      memcpy(at, &value, 8);
      offset += 8 + skip;
    }
  }
  if (s.bad) {
    fail("%s: truncated rebase information", l->path);
    return 0;
  }
  return 1;
}

/* The address an import is bound to: from the table, or, for the library's
 * own symbols, from its exports. */
static void *export_address(const struct image *m, const char *symbol, int *found);

static int bind_stream(struct load *l, uint32_t off, uint32_t size, int lazy) {
  struct image *m = l->m;
  struct stream s;
  if (!linkedit_stream(l, off, size, "bind information", &s)) return 0;
  uint64_t segment = UINT64_MAX, offset = 0;
  int64_t addend = 0, ordinal = 0;
  const char *symbol = NULL;
  int weak = 0;
  while (s.p < s.end && !s.bad) {
    const uint8_t byte = *s.p++;
    const uint8_t immediate = byte & 0x0f;
    uint64_t count = 0, skip = 0;
    switch (byte & 0xf0) {
      case 0x00: /* BIND_OPCODE_DONE: ends an entry of the lazy stream */
        if (!lazy) return 1;
        continue;
      case 0x10: /* SET_DYLIB_ORDINAL_IMM */
        ordinal = immediate;
        continue;
      case 0x20: /* SET_DYLIB_ORDINAL_ULEB */
        ordinal = (int64_t)read_uleb(&s);
        continue;
      case 0x30: /* SET_DYLIB_SPECIAL_IMM: 0 self, -1 main, -2 flat, -3 weak */
        ordinal = immediate ? (int64_t)(int8_t)(0xf0 | immediate) : 0;
        continue;
      case 0x40: /* SET_SYMBOL_TRAILING_FLAGS_IMM */
        weak = (immediate & BIND_SYMBOL_FLAGS_WEAK_IMPORT) != 0;
        symbol = read_string(&s);
        continue;
      case 0x50: /* SET_TYPE_IMM */
        if (immediate != BIND_TYPE_POINTER) {
          fail("%s: bind of type %u is not supported", l->path, immediate);
          return 0;
        }
        continue;
      case 0x60: /* SET_ADDEND_SLEB */
        addend = read_sleb(&s);
        continue;
      case 0x70: /* SET_SEGMENT_AND_OFFSET_ULEB */
        segment = immediate;
        offset = read_uleb(&s);
        continue;
      case 0x80: /* ADD_ADDR_ULEB */
        offset += read_uleb(&s);
        continue;
      case 0x90: /* DO_BIND */
        count = 1;
        break;
      case 0xa0: /* DO_BIND_ADD_ADDR_ULEB */
        count = 1;
        skip = read_uleb(&s);
        break;
      case 0xb0: /* DO_BIND_ADD_ADDR_IMM_SCALED */
        count = 1;
        skip = (uint64_t)immediate * 8;
        break;
      case 0xc0: /* DO_BIND_ULEB_TIMES_SKIPPING_ULEB */
        count = read_uleb(&s);
        skip = read_uleb(&s);
        break;
      default:
        fail("%s: bind opcode 0x%02x is not supported", l->path, byte);
        return 0;
    }
    if (s.bad) break;
    if (!symbol) {
      fail("%s: bind without a symbol", l->path);
      return 0;
    }
    void *target = NULL;
    if (ordinal == 0) {
      int found = 0;
      target = export_address(m, symbol, &found);
      if (!found) {
        fail("%s: unresolved import %s (of the library itself)", l->path, symbol);
        return 0;
      }
    } else {
      const struct import *import = find_import(symbol);
      if (import) {
        target = import->address;
      } else if (!weak) {
        fail("%s: unresolved import %s", l->path, symbol);
        return 0;
      }
    }
    for (uint64_t k = 0; k < count; ++k) {
      uint8_t *at = segment_bytes(m, segment, offset, 8);
      if (!at) {
        fail("%s: bind outside the segments", l->path);
        return 0;
      }
      const uint64_t value = (uint64_t)(uintptr_t)target + (uint64_t)addend;
      memcpy(at, &value, 8);
      offset += 8 + skip;
    }
  }
  if (s.bad) {
    fail("%s: truncated bind information", l->path);
    return 0;
  }
  return 1;
}

/* The export trie: from the root, edges of the name's characters down to the
 * node whose terminal information gives the symbol's offset from the
 * header. */
static void *export_address(const struct image *m, const char *symbol, int *found) {
  *found = 0;
  if (!m->trie) return NULL;
  const uint8_t *trie = m->trie, *trie_end = m->trie + m->trie_size;
  const char *rest = symbol;
  uint64_t node = 0;
  for (;;) {
    if (node >= m->trie_size) return NULL;
    struct stream s = {trie + node, trie_end, 0};
    const uint64_t terminal = read_uleb(&s);
    if (s.bad || terminal > (uint64_t)(trie_end - s.p)) return NULL;
    const uint8_t *children = s.p + terminal;
    if (*rest == 0) {
      if (terminal == 0) return NULL;
      const uint64_t flags = read_uleb(&s);
      if (flags & (EXPORT_SYMBOL_FLAGS_REEXPORT | EXPORT_SYMBOL_FLAGS_STUB_AND_RESOLVER)) {
        fail("%s is a re-export or has a resolver: not supported", symbol);
        return NULL;
      }
      const uint64_t address = read_uleb(&s);
      if (s.bad) return NULL;
      const uint64_t kind = flags & EXPORT_SYMBOL_FLAGS_KIND_MASK;
      if (kind == EXPORT_SYMBOL_FLAGS_KIND_ABSOLUTE) {
        *found = 1;
        return (void *)(uintptr_t)address;
      }
      if (kind != EXPORT_SYMBOL_FLAGS_KIND_REGULAR) {
        fail("%s is thread-local: not supported", symbol);
        return NULL;
      }
      if (address >= m->span - (size_t)(m->header - m->base)) return NULL;
      *found = 1;
      return (void *)(m->header + address);
    }
    s.p = children;
    if (s.p == trie_end) return NULL;
    const uint8_t child_count = *s.p++;
    uint64_t next = UINT64_MAX;
    for (uint8_t k = 0; k < child_count && next == UINT64_MAX; ++k) {
      const char *edge = read_string(&s);
      const uint64_t child = read_uleb(&s);
      if (s.bad) return NULL;
      const size_t length = strlen(edge);
      /* An empty edge would not take the walk any further. */
      if (length > 0 && strncmp(rest, edge, length) == 0) {
        rest += length;
        next = child;
      }
    }
    if (next == UINT64_MAX) return NULL;
    node = next;
  }
}

static int protect_segments(struct load *l) {
  struct image *m = l->m;
#if defined(__aarch64__)
  __builtin___clear_cache((char *)m->base, (char *)m->base + m->span);
#endif
  for (int i = 0; i < m->segment_count; ++i) {
    const struct segment *s = &m->segments[i];
    const int prot = (s->initprot & VM_PROT_READ ? PROT_READ : 0) |
                     (s->initprot & VM_PROT_WRITE ? PROT_WRITE : 0) |
                     (s->initprot & VM_PROT_EXECUTE ? PROT_EXEC : 0);
    const uint64_t size = (s->vmsize + IMAGE_ALIGN - 1) / IMAGE_ALIGN * IMAGE_ALIGN;
    if (s->vmaddr % IMAGE_ALIGN && s->vmaddr % 4096) {
      fail("%s: segment %s not on a page boundary", l->path, s->name);
      return 0;
    }
    const uint64_t start = s->vmaddr - m->vm_min;
    const size_t length = (size_t)(start + size > m->span ? m->span - start : size);
    uint8_t *at = m->base + start;
    if (mprotect(at, length, prot) != 0) {
      fail("%s: cannot protect segment %s: %s", l->path, s->name, strerror(errno));
      return 0;
    }
  }
  return 1;
}

typedef void (*initialiser)(int, char **, char **, char **, void *);

/* Whether `address` lies in a segment of code. */
static int in_code(const struct image *m, uintptr_t address) {
  for (int i = 0; i < m->segment_count; ++i) {
    const struct segment *s = &m->segments[i];
    const uintptr_t start = (uintptr_t)(m->base + (s->vmaddr - m->vm_min));
    if ((s->initprot & VM_PROT_EXECUTE) && address >= start && address - start < s->vmsize)
      return 1;
  }
  return 0;
}

/* Initialisers in the order the sections list them: pointers
 * (__mod_init_func, rebased already) or 32-bit offsets from the header
 * (__init_offsets). Terminators are remembered for macho_dlclose. */
static int run_initialisers(struct load *l) {
  struct image *m = l->m;
  const uint8_t *h = l->file;
  const uint32_t ncmds = read_le32(h + 16);
  const uint8_t *c = h + 32;
  static char *empty[] = {NULL};
  for (uint32_t i = 0; i < ncmds; ++i) {
    const uint32_t cmd = read_le32(c), cmdsize = read_le32(c + 4);
    if ((int)cmd == LC_SEGMENT_64) {
      const uint32_t nsects = read_le32(c + 64);
      for (uint32_t k = 0; k < nsects; ++k) {
        const uint8_t *sect = c + 72 + k * 80;
        const uint64_t addr = read_le64(sect + 32), size = read_le64(sect + 40);
        const uint32_t kind = read_le32(sect + 64) & SECTION_TYPE;
        if (kind != S_MOD_INIT_FUNC_POINTERS && kind != S_INIT_FUNC_OFFSETS &&
            kind != S_MOD_TERM_FUNC_POINTERS)
          continue;
        if (addr < m->vm_min || addr - m->vm_min > m->span || size > m->span - (addr - m->vm_min)) {
          fail("%s: initialisers outside the image", l->path);
          return 0;
        }
        const uint8_t *p = m->base + (addr - m->vm_min);
        if (kind == S_MOD_TERM_FUNC_POINTERS) {
          m->term_addr = addr;
          m->term_size = size;
          continue;
        }
        const uint64_t step = kind == S_INIT_FUNC_OFFSETS ? 4 : 8;
        for (uint64_t at = 0; at + step <= size; at += step) {
          uintptr_t f;
          if (kind == S_INIT_FUNC_OFFSETS) {
            f = (uintptr_t)(m->header + read_le32(p + at));
          } else {
            memcpy(&f, p + at, sizeof f);
          }
          if (!in_code(m, f)) {
            fail("%s: initialiser outside the code", l->path);
            return 0;
          }
          initialiser run;
          memcpy(&run, &f, sizeof run);
          run(0, empty, empty, empty, NULL);
        }
      }
    }
    c += cmdsize;
  }
  return 1;
}

static void unmap(struct image *m) {
  if (m->base) munmap(m->base, m->span);
  munmap(m, sizeof *m);
}

void *macho_dlopen(const char *path) {
  struct load l;
  memset(&l, 0, sizeof l);
  l.path = path;
  if (HOST_CPU == 0) {
    fail("%s: this processor runs no macOS code", path);
    return NULL;
  }
  const char *maths = getenv("EFFECTS_MACHO_MATHS");
  if (!maths || !*maths) {
    maths_nudge = 0;
  } else if (strcmp(maths, "up") == 0 || strcmp(maths, "down") == 0) {
    maths_nudge = maths[0] == 'u' ? 1 : -1;
  } else {
    fail("EFFECTS_MACHO_MATHS is %s, not up or down", maths);
    return NULL;
  }
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    fail("%s: %s", path, strerror(errno));
    return NULL;
  }
  struct stat st;
  if (fstat(fd, &st) != 0 || st.st_size <= 0) {
    fail("%s: empty or unreadable", path);
    close(fd);
    return NULL;
  }
  const uint64_t size = (uint64_t)st.st_size;
  void *file = mmap(NULL, (size_t)size, PROT_READ, MAP_PRIVATE, fd, 0);
  close(fd);
  if (file == MAP_FAILED) {
    fail("%s: cannot map: %s", path, strerror(errno));
    return NULL;
  }
  /* Not from malloc: the tests count and fail the plug-ins' allocations. */
  struct image *m =
      mmap(NULL, sizeof *m, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (m == MAP_FAILED) {
    fail("%s: out of memory", path);
    munmap(file, (size_t)size);
    return NULL;
  }
  memset(m, 0, sizeof *m);
  l.m = m;
  int ok = pick_slice(&l, file, size) && parse_commands(&l) && map_segments(&l);
  if (ok && l.export_size) {
    /* The trie is read from the mapped __LINKEDIT, which must hold it. */
    ok = 0;
    for (int i = 0; i < m->segment_count; ++i) {
      const struct segment *s = &m->segments[i];
      if (l.export_off >= s->fileoff && l.export_size <= s->filesize &&
          l.export_off - s->fileoff <= s->filesize - l.export_size) {
        m->trie = m->base + (s->vmaddr - m->vm_min) + (l.export_off - s->fileoff);
        m->trie_size = l.export_size;
        ok = 1;
      }
    }
    if (!ok) fail("%s: export trie outside the segments", path);
  }
  ok = ok && rebase(&l) && bind_stream(&l, l.bind_off, l.bind_size, 0) &&
       bind_stream(&l, l.lazy_off, l.lazy_size, 1) && protect_segments(&l);
  if (ok) {
    loading_image = m;
    m->next = loaded_images;
    loaded_images = m;
    ok = run_initialisers(&l);
    loading_image = NULL;
    if (!ok) {
      loaded_images = m->next;
    }
  }
  munmap(file, (size_t)size);
  if (!ok) {
    unmap(m);
    return NULL;
  }
  return m;
}

void *macho_dlsym(void *handle, const char *name) {
  const struct image *m = handle;
  if (!m || !name) return NULL;
  char symbol[256];
  if (snprintf(symbol, sizeof symbol, "_%s", name) >= (int)sizeof symbol) return NULL;
  int found = 0;
  void *address = export_address(m, symbol, &found);
  if (!found) fail("symbol %s not found", name);
  return address;
}

int macho_dlclose(void *handle) {
  struct image *m = handle;
  struct image **link = &loaded_images;
  while (*link && *link != m) link = &(*link)->next;
  if (!*link) {
    fail("not a loaded image");
    return -1;
  }
  *link = m->next;
  while (m->exit_count > 0) {
    const struct exit_call e = m->exits[--m->exit_count];
    e.fn(e.arg);
  }
  for (uint64_t at = 0; at + 8 <= m->term_size; at += 8) {
    uintptr_t address;
    memcpy(&address, m->base + (m->term_addr - m->vm_min) + at, sizeof address);
    if (!in_code(m, address)) continue;
    void (*f)(void);
    memcpy(&f, &address, sizeof f);
    f();
  }
  unmap(m);
  return 0;
}
