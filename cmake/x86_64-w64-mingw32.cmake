# Cross build for 64-bit Windows with Debian's MinGW-w64 compiler
# (g++-mingw-w64-x86-64-posix). The plug-ins come out as NAME.dll that need
# nothing beside them: the GCC and C++ runtimes are linked in, so the only
# imports are KERNEL32.dll and msvcrt.dll. The unit suites run under Wine
# (Debian's wine64), which ctest starts itself in a Wine prefix of the build
# folder's own (cmake/windows.cmake); scripts/test.sh windows runs them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
# The POSIX threading flavour: the concurrency test needs std::thread, which
# GCC 12's win32 flavour lacks. The plug-ins start no threads either way.
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# frei0r.h is found among the build machine's headers (see CMakeLists.txt).
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
