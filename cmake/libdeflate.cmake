# libdeflate for whole-buffer inflation of PNG image data and for the
# zlib-format checksums, as the target velmora_libdeflate.
#
# Preferred: Debian's libdeflate 1.14 sources (scripts/fetch_deps.sh unpacks
# them into .deps/), only its decompressor and checksums compiled here into a
# static library, so Linux and Windows run the same code and the program
# gains no shared library. Fallback: an installed libdeflate-dev through
# pkg-config (shared).
set(VELMORA_LIBDEFLATE_SOURCE_DIR "${PROJECT_SOURCE_DIR}/.deps/libdeflate-1.14" CACHE PATH
  "Unpacked libdeflate source package (scripts/fetch_deps.sh)")

if(EXISTS "${VELMORA_LIBDEFLATE_SOURCE_DIR}/lib/deflate_decompress.c")
  enable_language(C)
  set(source "${VELMORA_LIBDEFLATE_SOURCE_DIR}/lib")
  add_library(velmora_libdeflate STATIC
    "${source}/deflate_decompress.c" "${source}/zlib_decompress.c"
    "${source}/adler32.c" "${source}/crc32.c" "${source}/utils.c"
    "${source}/x86/cpu_features.c" "${source}/arm/cpu_features.c")
  target_include_directories(velmora_libdeflate SYSTEM PUBLIC "${VELMORA_LIBDEFLATE_SOURCE_DIR}")
  # Third-party code: its warnings are not ours to fix, and must never stop
  # a build.
  target_compile_options(velmora_libdeflate PRIVATE -w)
  if(VELMORA_BUILD_FUZZ AND CMAKE_C_COMPILER_ID STREQUAL "Clang")
    target_compile_options(velmora_libdeflate PRIVATE -fsanitize=fuzzer-no-link)
  endif()
  message(STATUS "libdeflate: static, from ${VELMORA_LIBDEFLATE_SOURCE_DIR}")
else()
  find_package(PkgConfig QUIET)
  if(PkgConfig_FOUND)
    pkg_check_modules(VELMORA_SYSTEM_LIBDEFLATE IMPORTED_TARGET libdeflate)
  endif()
  if(NOT VELMORA_SYSTEM_LIBDEFLATE_FOUND)
    message(FATAL_ERROR "libdeflate not found: run scripts/fetch_deps.sh (builds it from Debian's "
      "source package) or install libdeflate-dev")
  endif()
  add_library(velmora_libdeflate INTERFACE)
  target_link_libraries(velmora_libdeflate INTERFACE PkgConfig::VELMORA_SYSTEM_LIBDEFLATE)
  message(STATUS "libdeflate: shared, from pkg-config")
endif()
