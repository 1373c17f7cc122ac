# Checks the manual page.
#   -DPAGE=<page> -DUSAGE=<usage text> [-DLINTER=groff|mandoc -DTOOL=<program>]
# With LINTER: the formatter must accept the page without a message at its
# strictest level. Without: every command and option of the usage text, and
# every other command the program has, must have an entry in the page.
cmake_minimum_required(VERSION 3.25)
foreach(required PAGE USAGE)
  if(NOT DEFINED ${required})
    message(FATAL_ERROR "manual_check: ${required} is not set")
  endif()
endforeach()

if(DEFINED LINTER)
  if(LINTER STREQUAL "groff")
    # -ww: every warning; -z: format, print nothing.
    set(command ${TOOL} -man -ww -z ${PAGE})
  elseif(LINTER STREQUAL "mandoc")
    # Lint mode reports every level, style included, on standard output.
    set(command ${TOOL} -T lint ${PAGE})
  else()
    message(FATAL_ERROR "manual_check: unknown LINTER ${LINTER}")
  endif()
  execute_process(COMMAND ${command} OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status)
  if(NOT status EQUAL 0 OR NOT out STREQUAL "" OR NOT err STREQUAL "")
    message(FATAL_ERROR "${LINTER} finds fault with ${PAGE} (status ${status}):\n${out}${err}")
  endif()
  return()
endif()

# An entry is the tag line of a tagged paragraph (the line after .TP), where
# a command or option is described; a mention in the synopsis or in running
# text is not one. Collect the options named on every tag line.
file(STRINGS ${PAGE} lines)
set(documented "")
set(after_tag OFF)
foreach(line IN LISTS lines)
  if(line MATCHES "^\\.TP")
    set(after_tag ON)
    continue()
  endif()
  if(after_tag)
    string(REGEX MATCHALL "\\\\-[\\\\a-z-]+" words "${line}")
    foreach(word IN LISTS words)
      string(REPLACE "\\-" "-" word "${word}")
      list(APPEND documented "${word}")
    endforeach()
  endif()
  set(after_tag OFF)
endforeach()

# The usage text's options, plus the commands it cannot list.
file(STRINGS ${USAGE} usage_lines REGEX "^  --")
set(wanted -h --version --atlas)
foreach(line IN LISTS usage_lines)
  string(REGEX MATCH "^  (--[a-z-]+)" match "${line}")
  list(APPEND wanted "${CMAKE_MATCH_1}")
endforeach()
set(missing "")
foreach(option IN LISTS wanted)
  if(NOT option IN_LIST documented)
    list(APPEND missing ${option})
  endif()
endforeach()
list(LENGTH wanted wanted_count)
if(wanted_count LESS 9)
  message(FATAL_ERROR "manual_check: read only ${wanted_count} commands from ${USAGE}")
endif()
if(missing)
  message(FATAL_ERROR "${PAGE} has no entry for: ${missing}")
endif()
