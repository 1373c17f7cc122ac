# Installs the build into a scratch prefix and checks what lands there.
#   -DBUILD_DIR=<build> -DPREFIX=<scratch> -DEXPECTED=<a|b|...> -DPROGRAM=<relative path>
#   -DGOLDEN=<pack report> [-DEMULATOR=<runner>]
# The prefix must hold exactly EXPECTED (nothing the program does not need at
# run time), and the installed program must run from there.
cmake_minimum_required(VERSION 3.25)
foreach(required BUILD_DIR PREFIX EXPECTED PROGRAM GOLDEN)
  if(NOT DEFINED ${required})
    message(FATAL_ERROR "install_check: ${required} is not set")
  endif()
endforeach()
string(REPLACE "|" ";" EXPECTED "${EXPECTED}")

file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX}
  OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cmake --install failed (${status}):\n${out}${err}")
endif()

file(GLOB_RECURSE installed LIST_DIRECTORIES false RELATIVE ${PREFIX} ${PREFIX}/*)
list(SORT installed)
list(SORT EXPECTED)
set(failures "")
if(NOT installed STREQUAL EXPECTED)
  string(APPEND failures "installed: ${installed}\nexpected:  ${EXPECTED}\n")
endif()

if(EXISTS ${PREFIX}/${PROGRAM})
  execute_process(COMMAND ${EMULATOR} ${PREFIX}/${PROGRAM} --pack-sample
    OUTPUT_FILE ${PREFIX}.out RESULT_VARIABLE status)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${PREFIX}.out ${GOLDEN}
    RESULT_VARIABLE differs)
  if(NOT status EQUAL 0 OR NOT differs EQUAL 0)
    file(READ ${PREFIX}.out got)
    string(APPEND failures "installed ${PROGRAM} --pack-sample: status ${status}, output:\n${got}\n")
  endif()
  file(REMOVE ${PREFIX}.out)
endif()
file(REMOVE_RECURSE ${PREFIX})

if(NOT failures STREQUAL "")
  message(FATAL_ERROR "${failures}")
endif()
