# Cross build for macOS on Intel processors (x86_64, macOS 11 and later) with
# zig's compiler and LLVM's ld64.lld (see zig-macos.cmake).
set(EFFECTS_MACOS_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/zig-macos.cmake)
