# Runs velmora2d once and checks what a user would see: standard output byte
# for byte against a golden file, an empty error stream, the exit status, and
# that the working directory stays empty (the tool never writes files).
#
#   cmake -DEXE=<binary> -DARGS=<a|b|...> -DSTATUS=<n> [-DGOLDEN=<file>]
#         [-DEMULATOR=<runner>] [-DDOS_PROGRAM_NAME=ON] [-DWORKDIR=<dir>]
#         -P cli_check.cmake
#
# In GOLDEN, @PROGRAM@ stands for the program name the binary was started as:
# EXE itself, or with DOS_PROGRAM_NAME the path a Windows program run by wine
# sees (Z: maps the Unix root, with backslashes).
foreach(required EXE STATUS WORKDIR)
  if(NOT DEFINED ${required})
    message(FATAL_ERROR "cli_check: ${required} is not set")
  endif()
endforeach()

# Arguments arrive joined by "|" so that ctest passes them as one value.
string(REPLACE "|" ";" ARGS "${ARGS}")
file(REMOVE_RECURSE "${WORKDIR}")
file(MAKE_DIRECTORY "${WORKDIR}")

# "@EMPTY@" stands for one empty argument, which a CMake list cannot hold.
if(ARGS STREQUAL "@EMPTY@")
  execute_process(COMMAND ${EMULATOR} "${EXE}" ""
    WORKING_DIRECTORY "${WORKDIR}" OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status)
else()
  execute_process(COMMAND ${EMULATOR} "${EXE}" ${ARGS}
    WORKING_DIRECTORY "${WORKDIR}" OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status)
endif()

set(failures "")
if(NOT status STREQUAL STATUS)
  string(APPEND failures "exit status ${status}, expected ${STATUS}\n")
endif()
if(NOT err STREQUAL "")
  string(APPEND failures "error stream not empty:\n${err}\n")
endif()
if(DEFINED GOLDEN)
  file(READ "${GOLDEN}" expected)
  if(NOT DEFINED PROGRAM_NAME)
    set(PROGRAM_NAME "${EXE}")
    if(DOS_PROGRAM_NAME)
      string(REPLACE "/" "\\" PROGRAM_NAME "Z:${EXE}")
    endif()
  endif()
  string(REPLACE "@PROGRAM@" "${PROGRAM_NAME}" expected "${expected}")
  if(NOT out STREQUAL expected)
    file(WRITE "${WORKDIR}/../actual-${TEST_NAME}.txt" "${out}")
    string(APPEND failures "stdout differs from ${GOLDEN}\n--- got ---\n${out}--- end ---\n")
  endif()
elseif(NOT out STREQUAL "")
  string(APPEND failures "stdout not empty:\n${out}\n")
endif()
file(GLOB left_behind "${WORKDIR}/*")
if(left_behind)
  string(APPEND failures "files created: ${left_behind}\n")
endif()
file(REMOVE_RECURSE "${WORKDIR}")

if(NOT failures STREQUAL "")
  message(FATAL_ERROR "velmora2d ${ARGS}:\n${failures}")
endif()
