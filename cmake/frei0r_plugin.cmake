# frei0r_plugin(TARGET OUTPUT_NAME SOURCES...)
#
# Builds one plug-in as a loadable module named exactly OUTPUT_NAME.so (no
# "lib" prefix: hosts look the effect up by this file name), exporting only
# the f0r_* entry points, and installs it where hosts search.  Every plug-in
# also lands on the global FREI0R_PLUGINS list that the tests, fuzzers and
# benchmarks iterate over.
function(frei0r_plugin target output_name)
  add_library(${target} MODULE ${ARGN})
  target_include_directories(${target} SYSTEM PRIVATE ${FREI0R_INCLUDE_DIR})
  set_target_properties(${target} PROPERTIES
    PREFIX ""
    OUTPUT_NAME ${output_name}
    LIBRARY_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/plugins
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
  target_link_libraries(${target} PRIVATE m)
  install(TARGETS ${target} LIBRARY DESTINATION lib/frei0r-1)
  set_property(GLOBAL APPEND PROPERTY FREI0R_PLUGINS ${target})
endfunction()
