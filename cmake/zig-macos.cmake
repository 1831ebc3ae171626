# What the two macOS cross toolchains share (arm64-apple-macos.cmake and
# x86_64-apple-macos.cmake set EFFECTS_MACOS_ARCH and include this file).
#
# The compiler is zig's clang (`zig cc`, `zig c++`) with the macOS libc
# headers and the libSystem stub that zig carries, so a plug-in needs nothing
# on the Mac but /usr/lib/libSystem.B.dylib. The link is LLVM's ld64.lld
# (macos.cmake), which, unlike zig's linker, takes an exported symbols list
# and keeps everything else inside the library, and which ad-hoc signs arm64
# output as it writes it. Nothing of zig's compiler runtime is linked in.
# The result runs on macOS 11 and later.
#
#   -DEFFECTS_ZIG=/path/to/zig     (default: zig on PATH)
#   -DEFFECTS_LD64=/path/to/ld64.lld  (default: ld64.lld-N for the LLVM version N
#                                      the scripts read from the release,
#                                      $EFFECTS_LLVM_VERSION, or ld64.lld on PATH)
#   -DEFFECTS_ZIG_CACHE=DIR        zig's cache (default: zig-cache in the build folder)
#
# scripts/macos-build.sh fetches zig and builds both architectures.
set(CMAKE_SYSTEM_NAME Darwin)
set(CMAKE_SYSTEM_VERSION 20.0)  # Darwin 20: macOS 11
if(EFFECTS_MACOS_ARCH STREQUAL arm64)
  set(CMAKE_SYSTEM_PROCESSOR arm64)
  set(effects_zig_target aarch64-macos.11.0)
else()
  set(CMAKE_SYSTEM_PROCESSOR x86_64)
  set(effects_zig_target x86_64-macos.11.0)
endif()
set(EFFECTS_MACOS_MIN 11.0)
# No Apple SDK, no xcrun: the target is named to zig, never through -arch
# or -isysroot.
set(CMAKE_OSX_ARCHITECTURES "" CACHE STRING "" FORCE)
set(CMAKE_OSX_SYSROOT "" CACHE STRING "" FORCE)
set(CMAKE_OSX_DEPLOYMENT_TARGET "" CACHE STRING "" FORCE)

# The wrappers are written once, by the outer configure run, and handed to
# the compiler checks' inner projects.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES EFFECTS_ZIG_WRAPPERS EFFECTS_MACOS_ARCH)
if(NOT EFFECTS_ZIG_WRAPPERS)
  if(NOT EFFECTS_ZIG)
    find_program(EFFECTS_ZIG zig REQUIRED)
  endif()
  if(NOT EFFECTS_LD64)
    find_program(EFFECTS_LD64 NAMES ld64.lld-$ENV{EFFECTS_LLVM_VERSION} ld64.lld REQUIRED)
  endif()
  set(EFFECTS_ZIG_WRAPPERS ${CMAKE_BINARY_DIR}/zig-${EFFECTS_MACOS_ARCH} CACHE INTERNAL "")
  get_filename_component(zig_lib ${EFFECTS_ZIG} DIRECTORY)
  # zig keeps what it compiled once in a cache of its own: in the build
  # folder, never the user's home.
  if(NOT EFFECTS_ZIG_CACHE)
    set(EFFECTS_ZIG_CACHE ${CMAKE_BINARY_DIR}/zig-cache)
  endif()
  set(zig_env "export ZIG_GLOBAL_CACHE_DIR='${EFFECTS_ZIG_CACHE}' ZIG_LOCAL_CACHE_DIR='${EFFECTS_ZIG_CACHE}'")
  # CMake identifies the compiler by first linking a test program into
  # a.out, with no -o; through zig that would first build zig's own C++
  # runtime for the target, minutes of work for nothing (a plug-in is linked
  # by ld64.lld and needs none of it). Such a link is refused, and CMake
  # identifies the compiler from an object file instead.
  set(compile_only [=[
for arg in "$@"; do
  case $arg in -c|-E|-S|-M|-MM|-o) linking=no; break ;; *.c|*.cpp|*.cc|*.o|*.a) linking=yes ;; esac
done
if [ "${linking:-no}" = yes ]; then
  echo "$0: no link without -o (cmake/zig-macos.cmake)" >&2
  exit 1
fi
]=])
  foreach(tool cc c++ ar ranlib)
    set(args "")
    set(guard "")
    if(tool MATCHES "^c")
      set(args "-target ${effects_zig_target} ")
      set(guard "${compile_only}")
    endif()
    file(WRITE ${EFFECTS_ZIG_WRAPPERS}/zig-${tool}
      "#!/bin/sh\n${zig_env}\n${guard}exec '${EFFECTS_ZIG}' ${tool} ${args}\"$@\"\n")
  endforeach()
  file(WRITE ${EFFECTS_ZIG_WRAPPERS}/ld64
    "#!/bin/sh\nexec '${EFFECTS_LD64}' -arch ${EFFECTS_MACOS_ARCH} -platform_version macos ${EFFECTS_MACOS_MIN} 13.0 -L'${zig_lib}/lib/libc/darwin' \"$@\"\n")
  file(CHMOD ${EFFECTS_ZIG_WRAPPERS}/zig-cc ${EFFECTS_ZIG_WRAPPERS}/zig-c++
    ${EFFECTS_ZIG_WRAPPERS}/zig-ar ${EFFECTS_ZIG_WRAPPERS}/zig-ranlib ${EFFECTS_ZIG_WRAPPERS}/ld64
    PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
      WORLD_READ WORLD_EXECUTE)
endif()
set(CMAKE_C_COMPILER ${EFFECTS_ZIG_WRAPPERS}/zig-cc)
set(CMAKE_CXX_COMPILER ${EFFECTS_ZIG_WRAPPERS}/zig-c++)
set(CMAKE_AR ${EFFECTS_ZIG_WRAPPERS}/zig-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${EFFECTS_ZIG_WRAPPERS}/zig-ranlib CACHE FILEPATH "")
set(EFFECTS_MACOS_LINKER ${EFFECTS_ZIG_WRAPPERS}/ld64)

# CMake's compiler checks compile without linking (see the wrappers above).
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# frei0r.h is found among the build machine's headers and copied (macos.cmake).
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
