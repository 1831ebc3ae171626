/* A loader of macOS shared libraries (Mach-O) for the tests, so that the
 * machine code of the macOS build runs in a Linux test process on the same
 * processor: the x86_64 slice natively, the arm64 slice in an aarch64 test
 * program (under qemu-aarch64 here).
 *
 * It reads a thin or universal file, takes the slice of the processor it
 * runs on, maps the segments, applies the rebases, binds the library's
 * imports to this process's own C library by name from a short, fixed list
 * (an import not on it fails the load, naming it), runs the initialisers and
 * finds exports in the export trie. Nothing else of macOS is there: no other
 * Mach-O library, no Objective-C, no thread-local variables. Images loaded
 * are independent of one another, even from the same file.
 *
 * Used as dlopen, dlsym, dlerror and dlclose are; not thread-safe.
 *
 * EFFECTS_MACHO_MATHS=up or down in the environment binds atan2, sin, cos
 * and exp2 to results one unit in the last place off this C library's (see
 * macho_loader.c): the bytes with another admissible mathematics library. */
#ifndef MACHO_LOADER_H
#define MACHO_LOADER_H

#ifdef __cplusplus
extern "C" {
#endif

/* Loads the library at `path`; null on failure, with the reason in
 * macho_dlerror(). */
void *macho_dlopen(const char *path);

/* The address of the exported symbol whose C name is `name` (without the
 * leading underscore that Mach-O adds); null when there is none. */
void *macho_dlsym(void *handle, const char *name);

/* Runs the destructors the library registered, then unmaps it. 0 on
 * success. */
int macho_dlclose(void *handle);

/* The reason of the last failure, once, as dlerror gives it; null when
 * nothing failed since the last call. */
const char *macho_dlerror(void);

#ifdef __cplusplus
}
#endif

#endif
