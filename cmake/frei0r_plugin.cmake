# frei0r_plugin(TARGET OUTPUT_NAME SOURCES...)
#
# Builds one plug-in as a loadable module named exactly OUTPUT_NAME.so (no
# "lib" prefix: hosts look the effect up by this file name), exporting only
# the f0r_* entry points, and installs it where hosts search.  Every plug-in
# also lands on the global FREI0R_PLUGINS list that the tests, fuzzers and
# benchmarks iterate over.
#
# With the tests on, the same sources are built once more for every entry of
# EFFECTS_VARIANTS (NAME=LEVEL), with EFFECTS_ISA_LIMIT=LEVEL: the plug-in
# held to the portable path (0), to the baseline vector set (1: SSE2 or
# NEON) or to AVX2 (2), so that the tests can hold every path this machine
# would otherwise never take to the same bytes. Such a variant lands in
# variants/NAME/OUTPUT_NAME.so; it is never installed and never on the list.

# The rules every module of a plug-in is built by, shipped or not, so that a
# variant cannot drift from what is shipped.
function(frei0r_module target output_name output_dir)
  add_library(${target} MODULE ${ARGN})
  target_include_directories(${target} SYSTEM PRIVATE ${FREI0R_INCLUDE_DIR})
  set_target_properties(${target} PROPERTIES
    PREFIX ""
    OUTPUT_NAME ${output_name}
    LIBRARY_OUTPUT_DIRECTORY ${output_dir}
    CXX_VISIBILITY_PRESET hidden
    C_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
  target_link_options(${target} PRIVATE
    -Wl,--version-script=${PROJECT_SOURCE_DIR}/cmake/exports.map)
  # Clang's sanitizer runtimes live in the executable, so an instrumented
  # clang build of a plug-in has undefined symbols by design.
  if(NOT (EFFECTS_SANITIZE AND CMAKE_CXX_COMPILER_ID MATCHES Clang))
    target_link_options(${target} PRIVATE -Wl,-z,defs)
  endif()
  set_property(TARGET ${target} APPEND PROPERTY
    LINK_DEPENDS ${PROJECT_SOURCE_DIR}/cmake/exports.map)
  if(NOT EFFECTS_SIMD)
    target_compile_definitions(${target} PRIVATE EFFECTS_ISA_LIMIT=0)
  endif()
  target_link_libraries(${target} PRIVATE m)
endfunction()

function(frei0r_plugin target output_name)
  frei0r_module(${target} ${output_name} ${PROJECT_BINARY_DIR}/plugins ${ARGN})
  install(TARGETS ${target} LIBRARY DESTINATION lib/frei0r-1)
  set_property(GLOBAL APPEND PROPERTY FREI0R_PLUGINS ${target})
  if(EFFECTS_TESTS)
    foreach(variant ${EFFECTS_VARIANTS})
      string(REPLACE "=" ";" parts ${variant})
      list(GET parts 0 variant_name)
      list(GET parts 1 level)
      frei0r_module(${target}_${variant_name} ${output_name}
        ${PROJECT_BINARY_DIR}/variants/${variant_name} ${ARGN})
      target_compile_definitions(${target}_${variant_name} PRIVATE
        EFFECTS_ISA_LIMIT=${level})
      set_property(GLOBAL APPEND PROPERTY FREI0R_VARIANT_TARGETS
        ${target}_${variant_name})
    endforeach()
  endif()
endfunction()
