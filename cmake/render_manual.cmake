# Renders the manual page for a package, writing OUT byte for byte.
#   cmake -DPAGE=<page> -DOUT=<file> -DFORMAT=gzip|html|text -DTOOL=<program> -P render_manual.cmake
# gzip: the page compressed for man (no name or time stored: same bytes every
# build); html: a page for a browser (mandoc); text: plain text (groff).
foreach(required PAGE OUT FORMAT TOOL)
  if(NOT DEFINED ${required})
    message(FATAL_ERROR "render_manual: ${required} is not set")
  endif()
endforeach()

if(FORMAT STREQUAL "gzip")
  set(command ${TOOL} -9 -n -c ${PAGE})
elseif(FORMAT STREQUAL "html")
  set(command ${TOOL} -T html -W warning,stop ${PAGE})
elseif(FORMAT STREQUAL "text")
  # -P-c: no terminal escapes or overstriking, readable in any editor.
  set(command ${TOOL} -man -ww -Tutf8 -P-c ${PAGE})
else()
  message(FATAL_ERROR "render_manual: unknown FORMAT ${FORMAT}")
endif()

execute_process(COMMAND ${command}
  OUTPUT_FILE ${OUT}.partial ERROR_VARIABLE errors RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR NOT errors STREQUAL "")
  file(REMOVE ${OUT}.partial)
  message(FATAL_ERROR "render_manual: ${TOOL} failed on ${PAGE} (${status}):\n${errors}")
endif()
file(RENAME ${OUT}.partial ${OUT})
