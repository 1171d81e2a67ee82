# The two packages of the deployable content, made by every build into build/packages/:
#   Orvand-<version>-setup.exe  the Windows installer (NSIS, tools/packaging/orvand.nsi)
#   Orvand-<version>.zip        the same content as a ZIP (CPack's ZIP generator), the stand-in
#                               DLLs in emulation/ with a note
# Both are made from one staged folder that the install() rules below fill, so they cannot
# drift apart.
set(QUIN_VERSION 4.2.0.0)
set(QUIN_PACKAGE_NAME Orvand-${QUIN_VERSION})
set(QUIN_PACKAGES_DIR ${CMAKE_BINARY_DIR}/packages)
set(QUIN_SETUP_NAME ${QUIN_PACKAGE_NAME}-setup.exe)
set(QUIN_ZIP_NAME ${QUIN_PACKAGE_NAME}.zip)
set(QUIN_STAGE_DIR ${CMAKE_BINARY_DIR}/packaging/stage)

find_program(QUIN_MAKENSIS makensis REQUIRED)

# The deployable content.  Plain files, not install(TARGETS): that would add the DLLs' import
# libraries.
install(FILES
    $<TARGET_FILE:OrvandTray> $<TARGET_FILE:QuinCheck> $<TARGET_FILE:ControlQuinCDIO>
    ${QUIN_DIST_DIR}/VirtualFarodrive.ico
  DESTINATION .)
install(FILES ${QUIN_LANGUAGE_FILES} DESTINATION Texts)
# The note is read with Notepad on Windows 95 too: CRLF line ends.
configure_file(${CMAKE_CURRENT_LIST_DIR}/emulation-readme.txt
  ${CMAKE_BINARY_DIR}/packaging/README.txt @ONLY NEWLINE_STYLE CRLF)
install(FILES $<TARGET_FILE:QuinCDIO> $<TARGET_FILE:QuinVCD> ${CMAKE_BINARY_DIR}/packaging/README.txt
  DESTINATION emulation)

# The ZIP packs the staged folder as it is.  cpack does not install the project itself
# (CPACK_INSTALL_CMAKE_PROJECTS empty): that would build the "preinstall" target, and with it
# everything, from inside this build.
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME Orvand)
set(CPACK_PACKAGE_VENDOR Quintessa)
set(CPACK_PACKAGE_VERSION ${QUIN_VERSION})
set(CPACK_PACKAGE_FILE_NAME ${QUIN_PACKAGE_NAME})
set(CPACK_PACKAGE_DIRECTORY ${QUIN_PACKAGES_DIR})
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_INSTALL_CMAKE_PROJECTS "")
set(CPACK_INSTALLED_DIRECTORIES "${QUIN_STAGE_DIR};.")
set(CPACK_OUTPUT_CONFIG_FILE ${CMAKE_BINARY_DIR}/packaging/CPackConfig.cmake)
set(CPACK_SOURCE_OUTPUT_CONFIG_FILE ${CMAKE_BINARY_DIR}/packaging/CPackSourceConfig.cmake)
include(CPack)

# The installer's language files, one line each to install and to remove: the uninstaller
# removes exactly the files that were installed.
set(nsh "; Made by packaging.cmake from the tray's language files.\n!macro InstallTexts\n")
string(APPEND nsh "  SetOutPath \"$INSTDIR\\Texts\"\n")
set(remove "")
foreach(file ${QUIN_LANGUAGE_FILES})
  get_filename_component(name ${file} NAME)
  string(APPEND nsh "  File \"${QUIN_STAGE_DIR}/Texts/${name}\"\n")
  string(APPEND remove "  Delete \"$INSTDIR\\Texts\\${name}\"\n")
endforeach()
string(APPEND nsh "  SetOutPath \"$INSTDIR\"\n!macroend\n!macro RemoveTexts\n${remove}")
string(APPEND nsh "  RMDir \"$INSTDIR\\Texts\"\n!macroend\n")
set(QUIN_TEXTS_NSH ${CMAKE_BINARY_DIR}/packaging/texts.nsh)
file(WRITE ${QUIN_TEXTS_NSH} "${nsh}")

# The staged folder, then both packages from it, remade when what they hold changes.
set(stamp ${QUIN_STAGE_DIR}.stamp)
set(setup ${QUIN_PACKAGES_DIR}/${QUIN_SETUP_NAME})
set(zip ${QUIN_PACKAGES_DIR}/${QUIN_ZIP_NAME})
add_custom_command(OUTPUT ${stamp}
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${QUIN_STAGE_DIR}
  COMMAND ${CMAKE_COMMAND} --install ${CMAKE_BINARY_DIR} --prefix ${QUIN_STAGE_DIR}
  COMMAND ${CMAKE_COMMAND} -E touch ${stamp}
  DEPENDS OrvandTray QuinCheck ControlQuinCDIO QuinCDIO QuinVCD tray_drive_icon tray_texts
    ${QUIN_DIST_DIR}/VirtualFarodrive.ico ${QUIN_LANGUAGE_FILES} ${CMAKE_BINARY_DIR}/packaging/README.txt
  COMMENT "Staging the packages' content"
  VERBATIM)
add_custom_command(OUTPUT ${setup}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${QUIN_PACKAGES_DIR}
  COMMAND ${QUIN_MAKENSIS} -V2 -NOCD -DVERSION=${QUIN_VERSION} -DSTAGE=${QUIN_STAGE_DIR}
    -DTEXTS=${QUIN_TEXTS_NSH} -DOUTFILE=${setup} ${CMAKE_CURRENT_LIST_DIR}/orvand.nsi
  DEPENDS ${stamp} ${CMAKE_CURRENT_LIST_DIR}/orvand.nsi ${QUIN_TEXTS_NSH}
  COMMENT "Installer ${QUIN_SETUP_NAME}"
  VERBATIM)
add_custom_command(OUTPUT ${zip}
  COMMAND ${CMAKE_CPACK_COMMAND} -G ZIP --config ${CPACK_OUTPUT_CONFIG_FILE}
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${QUIN_PACKAGES_DIR}/_CPack_Packages
  DEPENDS ${stamp} ${CPACK_OUTPUT_CONFIG_FILE}
  WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
  COMMENT "Archive ${QUIN_ZIP_NAME}"
  VERBATIM)
add_custom_target(packages ALL DEPENDS ${setup} ${zip})
