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

# The streams go to files beside the working directory, byte for byte:
# execute_process drops the CR of CRLF pairs and NUL bytes from output it
# captures into variables, which would hide exactly the faults looked for.
set(out_file "${WORKDIR}.stdout")
set(err_file "${WORKDIR}.stderr")
# "@EMPTY@" stands for one empty argument, which a CMake list cannot hold.
if(ARGS STREQUAL "@EMPTY@")
  execute_process(COMMAND ${EMULATOR} "${EXE}" ""
    WORKING_DIRECTORY "${WORKDIR}" OUTPUT_FILE "${out_file}" ERROR_FILE "${err_file}"
    RESULT_VARIABLE status)
else()
  execute_process(COMMAND ${EMULATOR} "${EXE}" ${ARGS}
    WORKING_DIRECTORY "${WORKDIR}" OUTPUT_FILE "${out_file}" ERROR_FILE "${err_file}"
    RESULT_VARIABLE status)
endif()
file(READ "${out_file}" out)
file(SIZE "${out_file}" out_size)
file(READ "${err_file}" err)
file(SIZE "${err_file}" err_size)

set(failures "")
if(NOT status STREQUAL STATUS)
  string(APPEND failures "exit status ${status}, expected ${STATUS}\n")
endif()
if(NOT err_size EQUAL 0)
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
  file(REMOVE "${WORKDIR}/../actual-${TEST_NAME}.txt")
  set(expected_file "${WORKDIR}.expected")
  file(WRITE "${expected_file}" "${expected}")
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files "${out_file}" "${expected_file}"
    RESULT_VARIABLE differs)
  if(NOT differs EQUAL 0)
    file(COPY_FILE "${out_file}" "${WORKDIR}/../actual-${TEST_NAME}.txt")
    string(APPEND failures "stdout differs from ${GOLDEN} (${out_size} bytes)\n--- got ---\n${out}--- end ---\n")
  endif()
  file(REMOVE "${expected_file}")
elseif(NOT out_size EQUAL 0)
  string(APPEND failures "stdout not empty:\n${out}\n")
endif()
file(REMOVE "${out_file}" "${err_file}")
file(GLOB left_behind "${WORKDIR}/*")
if(left_behind)
  string(APPEND failures "files created: ${left_behind}\n")
endif()
file(REMOVE_RECURSE "${WORKDIR}")

if(NOT failures STREQUAL "")
  message(FATAL_ERROR "velmora2d ${ARGS}:\n${failures}")
endif()
