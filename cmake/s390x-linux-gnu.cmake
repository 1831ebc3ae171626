# Cross build for s390x (IBM Z), a big-endian processor, with Debian's cross
# compiler and s390x libraries (dpkg --add-architecture s390x;
# g++-s390x-linux-gnu, libgtest-dev:s390x). There is no vector code of ours
# for it, so it proves the portable path right where a pixel's byte 0 is the
# high byte of its word. The unit suites run under qemu-s390x.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(CMAKE_C_COMPILER s390x-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER s390x-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE s390x-linux-gnu)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-s390x -L /usr/s390x-linux-gnu)
# Headers are shared between architectures (frei0r.h, GoogleTest); libraries
# come from the multiarch folder only.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
