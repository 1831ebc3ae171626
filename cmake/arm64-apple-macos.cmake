# Cross build for macOS on Apple silicon (arm64, macOS 11 and later) with
# zig's compiler and LLVM's ld64.lld (see zig-macos.cmake). The plug-ins
# come out ad-hoc signed, as arm64 code on macOS must be.
set(EFFECTS_MACOS_ARCH arm64)
include(${CMAKE_CURRENT_LIST_DIR}/zig-macos.cmake)
