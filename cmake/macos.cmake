# What a macOS build does differently; included from the top CMakeLists.txt
# when APPLE, after the build rules and frei0r::header exist. Made for the
# cross toolchains (arm64-apple-macos.cmake, x86_64-apple-macos.cmake).

# frei0r.h lives among the build machine's own headers, beside glibc's: a
# copy of that one header keeps them off the macOS compiler's path.
file(COPY ${FREI0R_INCLUDE_DIR}/frei0r.h DESTINATION ${PROJECT_BINARY_DIR}/frei0r-api)
set_target_properties(frei0r::header PROPERTIES
  INTERFACE_INCLUDE_DIRECTORIES ${PROJECT_BINARY_DIR}/frei0r-api)

# A plug-in is a Mach-O dynamic library (MH_DYLIB, which dlopen takes under
# either name, NAME.so for MLT, NAME.dylib for ffmpeg), linked by ld64.lld
# itself: frei0r_module() hands it the exported symbols list. Against
# libSystem alone: the plug-ins call nothing of the C++ runtime. Unreached
# code is dropped, and so is the debug map (-S), which would only name this
# machine's object files.
if(NOT EFFECTS_MACOS_LINKER)
  message(FATAL_ERROR "a macOS build needs cmake/arm64-apple-macos.cmake or x86_64-apple-macos.cmake")
endif()
set(CMAKE_CXX_CREATE_SHARED_MODULE
  "${EFFECTS_MACOS_LINKER} -dylib -dead_strip -S <LINK_FLAGS> -o <TARGET> <OBJECTS> <LINK_LIBRARIES> -lSystem")
