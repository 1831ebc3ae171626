# frei0r_plugin(TARGET OUTPUT_NAME SOURCES... [KERNELS sources...]
#               [DEFINITIONS defs...] [NO_EXCEPTIONS])
#
# Builds one plug-in as a loadable module named exactly OUTPUT_NAME.so (no
# "lib" prefix: hosts look the effect up by this file name), exporting only
# the f0r_* entry points that the common layer defines (and f0r_update2
# where the plug-in's source offers it), and installs it where hosts search. Every plug-in lands on
# the global FREI0R_PLUGINS list that the tests, fuzzers and benchmarks
# iterate over.
#
# NO_EXCEPTIONS compiles the plug-in without exception tables: nothing in a
# plug-in throws, and a library whose objects have destructors then needs no
# unwinder (on Windows, no libstdc++ exception support and the threads
# library under it).
#
# KERNELS are the sources of the hot loops. For the shipped plug-in they
# form the object library TARGET_kernels, which a test may link to call the
# kernels directly, built by exactly the rules the plug-in is built by.
#
# With the tests on, the same sources are built once more for every entry of
# EFFECTS_VARIANTS (NAME=LEVEL), with EFFECTS_ISA_LIMIT=LEVEL: the plug-in
# held to the portable path (0), to the baseline vector set (1: SSE2 or
# NEON) or to AVX2 (2), so that the tests can hold every path this machine
# would otherwise never take to the same bytes. Such a variant lands in
# variants/NAME/OUTPUT_NAME.so; it is never installed and never on the list.
#
# With EFFECTS_AVX512_EMULATED (a test build), the AVX-512 kernel sources
# are compiled for AVX2 over the emulation in tests/support (on the kernels'
# include path only there: see common/avx512_intrinsics.h).
#
# frei0r_module(TARGET OUTPUT_NAME OUTPUT_DIR SOURCES... [KERNELS ...]
#               [DEFINITIONS ...] [NO_EXCEPTIONS]) builds one such module without
# installing or listing it (test-only builds of a plug-in).

# The rules every object file of a plug-in is compiled by.
function(frei0r_compile_rules target)
  target_link_libraries(${target} PRIVATE effects_build_rules frei0r::header)
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR})
  set_target_properties(${target} PROPERTIES
    POSITION_INDEPENDENT_CODE ON
    CXX_VISIBILITY_PRESET hidden
    C_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
endfunction()

function(frei0r_module target output_name output_dir)
  cmake_parse_arguments(PARSE_ARGV 3 arg "NO_EXCEPTIONS" "" "KERNELS;DEFINITIONS")
  add_library(${target} MODULE ${arg_UNPARSED_ARGUMENTS} ${arg_KERNELS})
  frei0r_compile_rules(${target})
  if(arg_NO_EXCEPTIONS)
    target_compile_options(${target} PRIVATE -fno-exceptions)
  endif()
  target_compile_definitions(${target} PRIVATE ${arg_DEFINITIONS})
  target_link_libraries(${target} PRIVATE effects_entry)
  set_target_properties(${target} PROPERTIES
    PREFIX ""
    OUTPUT_NAME ${output_name}
    LIBRARY_OUTPUT_DIRECTORY ${output_dir})
  if(WIN32)
    # A DLL exports what EFFECTS_EXPORT marks and nothing else, and cannot
    # leave a symbol undefined. It is linked as it ships, without symbols,
    # so that the tests load the very bytes the package holds.
    target_link_options(${target} PRIVATE -s)
    return()
  endif()
  if(APPLE)
    # ld64.lld links it (macos.cmake): an exported symbols list holds what
    # leaves the library to f0r_*, and an undefined symbol is an error.
    target_link_options(${target} PRIVATE
      -exported_symbols_list ${PROJECT_SOURCE_DIR}/cmake/exports.txt
      -install_name @rpath/${output_name}.so)
    set_property(TARGET ${target} APPEND PROPERTY
      LINK_DEPENDS ${PROJECT_SOURCE_DIR}/cmake/exports.txt)
    return()
  endif()
  target_link_options(${target} PRIVATE
    -Wl,--version-script=${PROJECT_SOURCE_DIR}/cmake/exports.map)
  # Clang's sanitizer runtimes live in the executable, so an instrumented
  # clang build of a plug-in has undefined symbols by design.
  if(NOT (effects_sanitize AND CMAKE_CXX_COMPILER_ID MATCHES Clang))
    target_link_options(${target} PRIVATE -Wl,-z,defs)
  endif()
  set_property(TARGET ${target} APPEND PROPERTY
    LINK_DEPENDS ${PROJECT_SOURCE_DIR}/cmake/exports.map)
  target_link_libraries(${target} PRIVATE m)
endfunction()

function(frei0r_plugin target output_name)
  cmake_parse_arguments(PARSE_ARGV 2 arg "NO_EXCEPTIONS" "" "KERNELS;DEFINITIONS")
  set(no_exceptions "")
  if(arg_NO_EXCEPTIONS)
    set(no_exceptions NO_EXCEPTIONS)
  endif()
  set(kernel_objects "")
  if(EFFECTS_AVX512_EMULATED)
    # The emulation is built on AVX2 for the whole source. GCC warns that
    # its 512-bit values are passed as they would not be under AVX-512;
    # none leaves the source, so the warning says nothing here.
    foreach(source ${arg_KERNELS})
      if(source MATCHES "avx512")
        set_source_files_properties(${source} PROPERTIES COMPILE_OPTIONS "-mavx2;-mfma;-Wno-psabi")
      endif()
    endforeach()
  endif()
  if(arg_KERNELS)
    add_library(${target}_kernels OBJECT ${arg_KERNELS})
    frei0r_compile_rules(${target}_kernels)
    if(EFFECTS_AVX512_EMULATED)
      # Where common/avx512_intrinsics.h finds the emulation.
      target_include_directories(${target}_kernels PRIVATE ${PROJECT_SOURCE_DIR}/tests/support)
    endif()
    if(arg_NO_EXCEPTIONS)
      target_compile_options(${target}_kernels PRIVATE -fno-exceptions)
    endif()
    target_compile_definitions(${target}_kernels PUBLIC ${arg_DEFINITIONS})
    target_include_directories(${target}_kernels INTERFACE ${PROJECT_SOURCE_DIR}
      ${CMAKE_CURRENT_SOURCE_DIR})
    set(kernel_objects $<TARGET_OBJECTS:${target}_kernels>)
  endif()
  frei0r_module(${target} ${output_name} ${PROJECT_BINARY_DIR}/plugins
    ${arg_UNPARSED_ARGUMENTS} ${kernel_objects} DEFINITIONS ${arg_DEFINITIONS}
    ${no_exceptions})
  install(TARGETS ${target} LIBRARY DESTINATION lib/frei0r-1)
  set_property(GLOBAL APPEND PROPERTY FREI0R_PLUGINS ${target})
  if(EFFECTS_TESTS)
    foreach(variant ${EFFECTS_VARIANTS})
      string(REPLACE "=" ";" parts ${variant})
      list(GET parts 0 variant_name)
      list(GET parts 1 level)
      frei0r_module(${target}_${variant_name} ${output_name}
        ${PROJECT_BINARY_DIR}/variants/${variant_name} ${arg_UNPARSED_ARGUMENTS}
        KERNELS ${arg_KERNELS}
        DEFINITIONS ${arg_DEFINITIONS} EFFECTS_ISA_LIMIT=${level} ${no_exceptions})
      set_property(GLOBAL APPEND PROPERTY FREI0R_VARIANT_TARGETS
        ${target}_${variant_name})
    endforeach()
  endif()
endfunction()
