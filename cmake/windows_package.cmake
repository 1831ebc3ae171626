# The Windows package, from one command in the build folder:
#
#   cpack        (or cmake --build . --target package)
#
# makes frei0r-effects-four-VERSION-win64.zip and, from the same files,
# frei0r-effects-four-VERSION-win64-setup.exe (NSIS, packaging/windows/).
# The ZIP holds
#   lib/frei0r-1/NAME.dll            for a Shotcut or Kdenlive folder
#   share/shotcut/qml/filters/NAME/  for a Shotcut folder (or, from Shotcut
#                                    26.6 on, %LOCALAPPDATA%\Meltytech\
#                                    Shotcut\extensions\filters)
#   kdenlive/effects/frei0r_NAME.xml for %APPDATA%\kdenlive\effects or
#                                    C:\ProgramData\kdenlive\effects
#   kdenlive/effects/presets/        for %APPDATA%\kdenlive\effects\presets
#                                    (by hand only: Kdenlive keeps a user's
#                                    own presets in the same files)
#   INSTALL.txt                      what goes where, for each editor and ffmpeg
# The plug-ins install to lib/frei0r-1 by frei0r_plugin().
install(DIRECTORY editors/kdenlive/ DESTINATION kdenlive/effects)
install(DIRECTORY editors/shotcut/ DESTINATION share/shotcut/qml/filters)
configure_file(packaging/windows/INSTALL.txt ${PROJECT_BINARY_DIR}/INSTALL.txt
  NEWLINE_STYLE WIN32)
install(FILES ${PROJECT_BINARY_DIR}/INSTALL.txt DESTINATION .)

find_program(MAKENSIS makensis REQUIRED)
set(CPACK_GENERATOR "ZIP;External")
set(CPACK_PACKAGE_NAME frei0r-effects-four)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Plug-in team")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "frei0r video effects: ${effects_plugin_list}")
set(CPACK_PACKAGE_FILE_NAME ${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-win64)
# The installer is made from the files staged for the package, so that it
# holds exactly what the ZIP holds.
set(CPACK_EXTERNAL_ENABLE_STAGING ON)
set(CPACK_EXTERNAL_PACKAGE_SCRIPT ${PROJECT_SOURCE_DIR}/packaging/windows/installer.cmake)
set(CPACK_NSIS_SCRIPT ${PROJECT_SOURCE_DIR}/packaging/windows/installer.nsi)
set(CPACK_MAKENSIS ${MAKENSIS})
include(CPack)

if(EFFECTS_TESTS)
  # Makes both packages, checks the ZIP, and installs and uninstalls with the
  # installer under Wine (silently, into fake editor folders).
  add_test(NAME windows_package
    COMMAND ${PROJECT_SOURCE_DIR}/tests/package/windows_package_test.sh ${PROJECT_BINARY_DIR})
  set_tests_properties(windows_package PROPERTIES RUN_SERIAL ON)
endif()
