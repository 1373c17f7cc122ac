# Runs `velmora2d --atlas` on the example sprites and compares every file it
# writes, byte for byte, with the set in GOLDEN_DIR: the same inputs must
# give the same bytes on every run and on every platform (the Windows build
# runs this under wine against the same files). The summary line goes to
# standard output, nothing to the error stream.
#
#   cmake -DEXE=<binary> -DINPUT=<folder> -DGOLDEN_DIR=<folder> -DWORKDIR=<dir>
#         [-DOPTIONS=<a|b|...>] [-DEMULATOR=<runner>] [-DUPDATE=ON] -P atlas_check.cmake
#
# With UPDATE=ON the outputs replace the golden set instead (after a
# deliberate change of an output format).
foreach(required EXE INPUT GOLDEN_DIR WORKDIR)
  if(NOT DEFINED ${required})
    message(FATAL_ERROR "atlas_check: ${required} is not set")
  endif()
endforeach()
string(REPLACE "|" ";" OPTIONS "${OPTIONS}")
file(REMOVE_RECURSE "${WORKDIR}")
file(MAKE_DIRECTORY "${WORKDIR}")
# The prefix is relative, so the documents are the same wherever the test runs.
execute_process(COMMAND ${EMULATOR} "${EXE}" --atlas ${OPTIONS} -o out/sprites "${INPUT}"
  WORKING_DIRECTORY "${WORKDIR}" OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status)

set(failures "")
if(NOT status EQUAL 0)
  string(APPEND failures "exit status ${status}, expected 0\n")
endif()
if(NOT err STREQUAL "")
  string(APPEND failures "error stream not empty:\n${err}\n")
endif()
if(NOT out MATCHES "^Packed [0-9]+ frames")
  string(APPEND failures "no summary line: ${out}\n")
endif()

file(GLOB_RECURSE written RELATIVE "${WORKDIR}/out" "${WORKDIR}/out/*")
file(GLOB_RECURSE expected RELATIVE "${GOLDEN_DIR}" "${GOLDEN_DIR}/*")
list(SORT written)
list(SORT expected)
if(UPDATE)
  file(REMOVE_RECURSE "${GOLDEN_DIR}")
  file(COPY "${WORKDIR}/out/" DESTINATION "${GOLDEN_DIR}")
elseif(NOT written STREQUAL expected)
  string(APPEND failures "files written: ${written}\nfiles expected: ${expected}\n")
else()
  foreach(name IN LISTS expected)
    execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files "${WORKDIR}/out/${name}" "${GOLDEN_DIR}/${name}"
      RESULT_VARIABLE differs)
    if(NOT differs EQUAL 0)
      string(APPEND failures "${name} differs from ${GOLDEN_DIR}/${name}\n")
    endif()
  endforeach()
endif()
if(failures STREQUAL "")
  file(REMOVE_RECURSE "${WORKDIR}")
else()
  message(FATAL_ERROR "velmora2d --atlas ${OPTIONS}:\n${failures}(outputs kept in ${WORKDIR})")
endif()
