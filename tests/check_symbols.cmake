# Fails unless every dynamic symbol the plug-in defines is an f0r_* entry
# point. A leaked symbol could bind to another plug-in loaded in the same
# host process.
execute_process(COMMAND ${NM} -D --defined-only ${PLUGIN}
  OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${PLUGIN}")
endif()
string(REPLACE "\n" ";" lines "${out}")
set(entry_points 0)
foreach(line ${lines})
  if(line MATCHES "^[0-9a-fA-F]+ [A-Za-z] (.+)$")
    set(sym ${CMAKE_MATCH_1})
    if(sym MATCHES "^f0r_[a-z0-9_]+$")
      math(EXPR entry_points "${entry_points} + 1")
    elseif(NOT sym MATCHES "^(_init|_fini)$")
      message(FATAL_ERROR "${PLUGIN} exports ${sym}")
    endif()
  endif()
endforeach()
if(entry_points LESS 9)
  message(FATAL_ERROR "${PLUGIN} exports only ${entry_points} f0r_* symbols")
endif()
message(STATUS "${PLUGIN}: ${entry_points} entry points, nothing else")
