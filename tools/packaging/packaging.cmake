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
# libraries.  Texts\ holds whatever language files the build put into dist/Texts.
install(FILES
    $<TARGET_FILE:OrvandTray> $<TARGET_FILE:QuinCheck> $<TARGET_FILE:ControlQuinCDIO>
    ${QUIN_DIST_DIR}/VirtualFarodrive.ico
  DESTINATION .)
install(DIRECTORY ${QUIN_DIST_DIR}/Texts/ DESTINATION Texts FILES_MATCHING PATTERN "*.lng")
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

# Runs at every build (staging takes a moment) and remakes the packages only when the staged
# files or the packaging sources changed: the language files come from a build step, so their
# names are not known when CMake configures.
add_custom_target(packages ALL
  COMMAND ${CMAKE_COMMAND}
    -DBUILD_DIR=${CMAKE_BINARY_DIR}
    -DSTAGE_DIR=${QUIN_STAGE_DIR}
    -DPACKAGES_DIR=${QUIN_PACKAGES_DIR}
    -DVERSION=${QUIN_VERSION}
    -DSETUP_NAME=${QUIN_SETUP_NAME}
    -DZIP_NAME=${QUIN_ZIP_NAME}
    -DNSI=${CMAKE_CURRENT_LIST_DIR}/orvand.nsi
    -DMAKENSIS=${QUIN_MAKENSIS}
    -DCPACK=${CMAKE_CPACK_COMMAND}
    -DCPACK_CONFIG=${CPACK_OUTPUT_CONFIG_FILE}
    -P ${CMAKE_CURRENT_LIST_DIR}/make-packages.cmake
  COMMENT "Packages: ${QUIN_SETUP_NAME}, ${QUIN_ZIP_NAME}"
  VERBATIM)
add_dependencies(packages OrvandTray QuinCheck ControlQuinCDIO QuinCDIO QuinVCD tray_drive_icon)
if(TARGET tray_texts)
  add_dependencies(packages tray_texts)
endif()
