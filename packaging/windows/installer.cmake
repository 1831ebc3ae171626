# Run by cpack (its External generator) once the package's files are staged
# in CPACK_TEMPORARY_DIRECTORY, the same files the ZIP gets: writes the
# installer's lists of what goes where (files.nsh) and makes the installer
# with makensis from installer.nsi.
set(stage ${CPACK_TEMPORARY_DIRECTORY})
set(lists ${CPACK_TOPLEVEL_DIRECTORY}/installer-files.nsh)
set(installer
  ${CPACK_PACKAGE_DIRECTORY}/_CPack_Packages/installer/${CPACK_PACKAGE_FILE_NAME}-setup.exe)

file(GLOB plugins RELATIVE ${stage} ${stage}/lib/frei0r-1/*.dll)
file(GLOB_RECURSE shotcut_filters RELATIVE ${stage}/share/shotcut/qml/filters
  ${stage}/share/shotcut/qml/filters/*)
file(GLOB kdenlive_descriptors RELATIVE ${stage}/kdenlive/effects ${stage}/kdenlive/effects/*.xml)
if(NOT plugins OR NOT shotcut_filters OR NOT kdenlive_descriptors)
  message(FATAL_ERROR "nothing staged for the installer in ${stage}")
endif()

set(text "; Made by packaging/windows/installer.cmake from the staged package.\n")

# files_for(MACRO KEY ROOT TARGET_PREFIX SOURCE_PREFIX FILES...): the macros
# MACRO_INSTALL and MACRO_UNINSTALL. The first makes every folder below ROOT
# that TARGET_PREFIX/FILE needs (recording under KEY those it made) and puts
# every file there from SOURCE_PREFIX/FILE in the stage; the second deletes
# those files and then, deepest first, the folders it made that are empty.
function(files_for macro key root target_prefix source_prefix)
  set(folders "")
  foreach(f ${ARGN})
    get_filename_component(dir ${target_prefix}/${f} DIRECTORY)
    while(dir AND NOT dir STREQUAL ".")
      list(APPEND folders ${dir})
      get_filename_component(dir ${dir} DIRECTORY)
    endwhile()
  endforeach()
  list(REMOVE_DUPLICATES folders)
  list(SORT folders)
  set(install "!macro ${macro}_INSTALL\n")
  foreach(dir ${folders})
    string(REPLACE "/" "\\" win ${dir})
    string(APPEND install "  !insertmacro EFFECTS_MAKE_DIR \"${key}\" \"${root}\" \"${win}\"\n")
  endforeach()
  set(uninstall "!macro ${macro}_UNINSTALL\n")
  foreach(f ${ARGN})
    get_filename_component(dir ${target_prefix}/${f} DIRECTORY)
    string(REPLACE "/" "\\" win_dir ${dir})
    string(REPLACE "/" "\\" win_file ${target_prefix}/${f})
    string(APPEND install "  SetOutPath \"${root}\\${win_dir}\"\n"
      "  File \"${stage}/${source_prefix}/${f}\"\n")
    string(APPEND uninstall "  Delete \"${root}\\${win_file}\"\n")
  endforeach()
  list(REVERSE folders)
  foreach(dir ${folders})
    string(REPLACE "/" "\\" win ${dir})
    string(APPEND uninstall "  !insertmacro EFFECTS_REMOVE_DIR \"${key}\" \"${root}\" \"${win}\"\n")
  endforeach()
  set(text "${text}${install}!macroend\n${uninstall}!macroend\n" PARENT_SCOPE)
endfunction()

string(REPLACE "lib/frei0r-1/" "" plugin_names "${plugins}")
files_for(SHOTCUT_PLUGINS Shotcut "$Shotcut" lib/frei0r-1 lib/frei0r-1 ${plugin_names})
files_for(SHOTCUT_FILTERS Shotcut "$Shotcut" share/shotcut/qml/filters share/shotcut/qml/filters
  ${shotcut_filters})
files_for(SHOTCUT_USER_FILTERS UserData "$UserData" Meltytech/Shotcut/extensions/filters
  share/shotcut/qml/filters ${shotcut_filters})
files_for(KDENLIVE_PLUGINS Kdenlive "$Kdenlive" lib/frei0r-1 lib/frei0r-1 ${plugin_names})
files_for(KDENLIVE_DESCRIPTORS CommonData "$CommonData" kdenlive/effects kdenlive/effects
  ${kdenlive_descriptors})
file(WRITE ${lists} "${text}")

get_filename_component(installer_dir ${installer} DIRECTORY)
file(MAKE_DIRECTORY ${installer_dir})
execute_process(
  COMMAND ${CPACK_MAKENSIS} -V2 -DVERSION=${CPACK_PACKAGE_VERSION} -DSTAGE=${stage}
          -DFILES=${lists} -DOUTFILE=${installer} ${CPACK_NSIS_SCRIPT}
  RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "makensis failed")
endif()
set(CPACK_EXTERNAL_BUILT_PACKAGES ${installer})
