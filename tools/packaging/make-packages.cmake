# cmake -P make-packages.cmake, run by the "packages" target with -D BUILD_DIR, STAGE_DIR,
# PACKAGES_DIR, VERSION, SETUP_NAME, ZIP_NAME, NSI, MAKENSIS, CPACK, CPACK_CONFIG.
#
# Stages the deployable content with the project's install() rules, then makes the installer
# and the ZIP from the staged folder, unless neither it nor the packaging sources changed
# since the last time.

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT result EQUAL 0)
    string(REPLACE ";" " " command "${ARGN}")
    message(FATAL_ERROR "${command} failed (${result}):\n${out}")
  endif()
endfunction()

file(REMOVE_RECURSE ${STAGE_DIR})
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${STAGE_DIR})

# Everything the packages are made of, with a hash of each: the staged files and the sources.
file(GLOB_RECURSE staged RELATIVE ${STAGE_DIR} ${STAGE_DIR}/*)
list(SORT staged)
set(inputs "")
foreach(f ${staged})
  file(SHA256 ${STAGE_DIR}/${f} hash)
  string(APPEND inputs "${hash} ${f}\n")
endforeach()
foreach(f ${NSI} ${CMAKE_CURRENT_LIST_FILE} ${CPACK_CONFIG})
  file(SHA256 ${f} hash)
  string(APPEND inputs "${hash} ${f}\n")
endforeach()
set(setup ${PACKAGES_DIR}/${SETUP_NAME})
set(zip ${PACKAGES_DIR}/${ZIP_NAME})
set(record ${STAGE_DIR}-inputs.txt)
if(EXISTS ${record} AND EXISTS ${setup} AND EXISTS ${zip})
  file(READ ${record} previous)
  if(previous STREQUAL inputs)
    return()
  endif()
endif()
file(REMOVE ${record} ${setup} ${zip})
file(MAKE_DIRECTORY ${PACKAGES_DIR})

# The installer's language files, one line each to install and to remove: the uninstaller
# removes exactly the files that were installed, so the list is written out here.
file(GLOB texts RELATIVE ${STAGE_DIR}/Texts ${STAGE_DIR}/Texts/*.lng)
list(SORT texts)
set(nsh "; Made by make-packages.cmake from the staged Texts folder.\n")
string(APPEND nsh "!macro InstallTexts\n")
if(texts)
  string(APPEND nsh "  SetOutPath \"$INSTDIR\\Texts\"\n")
  foreach(t ${texts})
    string(REPLACE "$" "$$" t "${t}")
    string(APPEND nsh "  File \"${STAGE_DIR}/Texts/${t}\"\n")
  endforeach()
  string(APPEND nsh "  SetOutPath \"$INSTDIR\"\n")
endif()
string(APPEND nsh "!macroend\n!macro RemoveTexts\n")
foreach(t ${texts})
  string(REPLACE "$" "$$" t "${t}")
  string(APPEND nsh "  Delete \"$INSTDIR\\Texts\\${t}\"\n")
endforeach()
string(APPEND nsh "  RMDir \"$INSTDIR\\Texts\"\n!macroend\n")
set(texts_nsh ${BUILD_DIR}/packaging/texts.nsh)
file(WRITE ${texts_nsh} "${nsh}")

run(${MAKENSIS} -V2 -NOCD -DVERSION=${VERSION} -DSTAGE=${STAGE_DIR} -DTEXTS=${texts_nsh}
    -DOUTFILE=${setup} ${NSI})
run(${CPACK} -G ZIP --config ${CPACK_CONFIG})
file(REMOVE_RECURSE ${PACKAGES_DIR}/_CPack_Packages)
if(NOT EXISTS ${setup} OR NOT EXISTS ${zip})
  message(FATAL_ERROR "the packages were not made")
endif()
file(WRITE ${record} "${inputs}")
message(STATUS "Made ${setup} and ${zip}")
