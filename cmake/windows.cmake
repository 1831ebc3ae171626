# What a Windows (MinGW-w64) build does differently; included from the top
# CMakeLists.txt when WIN32, after the build rules and frei0r::header exist.
# The export mechanism itself is common/frei0r_api.h's EFFECTS_EXPORT.

# frei0r.h lives among the build machine's own headers, beside glibc's: a
# copy of that one header keeps them off the Windows compiler's path.
file(COPY ${FREI0R_INCLUDE_DIR}/frei0r.h DESTINATION ${PROJECT_BINARY_DIR}/frei0r-api)
set_target_properties(frei0r::header PROPERTIES
  INTERFACE_INCLUDE_DIRECTORIES ${PROJECT_BINARY_DIR}/frei0r-api)

# Everything from the toolchain (libstdc++, libgcc, winpthread) is linked in,
# so a DLL, or a test program, needs nothing beside it but Windows' own
# KERNEL32.dll and msvcrt.dll. No link time in the header: the same sources
# give the same DLL.
target_link_options(effects_build_rules INTERFACE -static -Wl,--no-insert-timestamp)

# GCC cannot align the stack of a 64-bit Windows function to more than 16
# bytes (GCC bug 54412): an AVX or AVX-512 vector spilled there with an
# aligned move faults. GCC 12 emits no such move in today's kernels; the
# assembler keeps it so by writing every aligned vector move in its unaligned
# form, which is as fast on aligned data and correct on any.
target_compile_options(effects_build_rules INTERFACE -Wa,-muse-unaligned-vector-move)

# Test programs run under Wine, in this build folder's own Wine prefix.
configure_file(cmake/wine-run.sh.in ${PROJECT_BINARY_DIR}/wine-run.sh
  FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
    WORLD_READ WORLD_EXECUTE @ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR ${PROJECT_BINARY_DIR}/wine-run.sh)
