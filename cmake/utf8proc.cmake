# utf8proc for comparing frame names the way case-insensitive file systems
# do (case folding, canonical composition), as the target velmora_utf8proc.
#
# Preferred: Debian's utf8proc 2.8.0 sources (scripts/fetch_deps.sh unpacks
# them into .deps/) compiled here into a static library, so Linux and
# Windows fold names with the same Unicode tables and the program gains no
# shared library. Fallback: an installed libutf8proc-dev through pkg-config
# (shared).
set(VELMORA_UTF8PROC_SOURCE_DIR "${PROJECT_SOURCE_DIR}/.deps/utf8proc-2.8.0" CACHE PATH
  "Unpacked utf8proc source package (scripts/fetch_deps.sh)")

if(EXISTS "${VELMORA_UTF8PROC_SOURCE_DIR}/utf8proc.c")
  enable_language(C)
  # utf8proc.c includes its tables (utf8proc_data.c) itself.
  add_library(velmora_utf8proc STATIC "${VELMORA_UTF8PROC_SOURCE_DIR}/utf8proc.c")
  target_include_directories(velmora_utf8proc SYSTEM PUBLIC "${VELMORA_UTF8PROC_SOURCE_DIR}")
  # Without it the Windows header declares every function dllimport.
  target_compile_definitions(velmora_utf8proc PUBLIC UTF8PROC_STATIC)
  # Third-party code: its warnings are not ours to fix, and must never stop
  # a build.
  target_compile_options(velmora_utf8proc PRIVATE -w)
  message(STATUS "utf8proc: static, from ${VELMORA_UTF8PROC_SOURCE_DIR}")
else()
  find_package(PkgConfig QUIET)
  if(PkgConfig_FOUND)
    pkg_check_modules(VELMORA_SYSTEM_UTF8PROC IMPORTED_TARGET libutf8proc)
  endif()
  if(NOT VELMORA_SYSTEM_UTF8PROC_FOUND)
    message(FATAL_ERROR "utf8proc not found: run scripts/fetch_deps.sh (builds it from Debian's "
      "source package) or install libutf8proc-dev")
  endif()
  add_library(velmora_utf8proc INTERFACE)
  target_link_libraries(velmora_utf8proc INTERFACE PkgConfig::VELMORA_SYSTEM_UTF8PROC)
  message(STATUS "utf8proc: shared, from pkg-config")
endif()
