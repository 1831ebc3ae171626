# Cross build for 64-bit ARM with Debian's cross compiler and arm64 libraries
# (dpkg --add-architecture arm64; g++-aarch64-linux-gnu, libgtest-dev:arm64).
# The unit suites then run under qemu-aarch64, which ctest starts itself.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64 -L /usr/aarch64-linux-gnu)
# Headers are shared between architectures (frei0r.h, GoogleTest); libraries
# come from the multiarch folder only.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
