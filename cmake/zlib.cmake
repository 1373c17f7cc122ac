# zlib for the PNG encoder, libspng and the tests' reader, as the target
# velmora_zlib.
#
# Preferred: Debian's zlib 1.2.13 sources (scripts/fetch_deps.sh unpacks them
# into .deps/) compiled here, so Linux and Windows run the same code, at
# -O2 with vectorisation: Debian's archive is built at -O3, with which GCC 12
# compiles the run-length search slower. One thread, the benchmark atlases'
# filtered rows (best of 3 runs, three times): 13 MB of noise (run-length)
# 60 to 61 ms with Debian's archive, 53 to 55 ms so; 22 MB of drawn shapes
# (level 4, whose window slides need the vectoriser) 45 to 46.5 ms either
# way. The bytes are the same. Debian also defines UNALIGNED_OK, whose
# misaligned 16-bit reads are undefined behaviour (UBSan stops on them).
# Fallback: the installed static archive (zlib1g-dev, libz-mingw-w64-dev),
# else the shared library.
set(VELMORA_ZLIB_SOURCE_DIR "${PROJECT_SOURCE_DIR}/.deps/zlib-1.2.13.dfsg" CACHE PATH
  "Unpacked zlib source package (scripts/fetch_deps.sh)")

if(EXISTS "${VELMORA_ZLIB_SOURCE_DIR}/deflate.c")
  enable_language(C)
  set(source "${VELMORA_ZLIB_SOURCE_DIR}")
  add_library(velmora_zlib STATIC
    "${source}/adler32.c" "${source}/compress.c" "${source}/crc32.c" "${source}/deflate.c"
    "${source}/infback.c" "${source}/inffast.c" "${source}/inflate.c" "${source}/inftrees.c"
    "${source}/trees.c" "${source}/uncompr.c" "${source}/zutil.c")
  target_include_directories(velmora_zlib SYSTEM PUBLIC "${source}")
  if(NOT WIN32)
    # What its configure script finds on every POSIX system.
    target_compile_definitions(velmora_zlib PRIVATE HAVE_UNISTD_H)
  endif()
  # Third-party code: its warnings are not ours to fix, and must never stop
  # a build. The optimised builds' -O3 gives way (above).
  target_compile_options(velmora_zlib PRIVATE -w $<$<NOT:$<CONFIG:Debug>>:-O2> $<$<NOT:$<CONFIG:Debug>>:-ftree-vectorize>)
  if(VELMORA_BUILD_FUZZ AND CMAKE_C_COMPILER_ID STREQUAL "Clang")
    target_compile_options(velmora_zlib PRIVATE -fsanitize=fuzzer-no-link)
  endif()
  message(STATUS "zlib: static, from ${VELMORA_ZLIB_SOURCE_DIR}")
else()
  add_library(velmora_zlib INTERFACE)
  # A shared zlib would be a run-time dependency of the program.
  find_library(VELMORA_STATIC_ZLIB NAMES libz.a)
  find_path(VELMORA_ZLIB_INCLUDE_DIR zlib.h)
  if(VELMORA_STATIC_ZLIB AND VELMORA_ZLIB_INCLUDE_DIR)
    target_include_directories(velmora_zlib SYSTEM INTERFACE "${VELMORA_ZLIB_INCLUDE_DIR}")
    target_link_libraries(velmora_zlib INTERFACE "${VELMORA_STATIC_ZLIB}")
    message(STATUS "zlib: static, from ${VELMORA_STATIC_ZLIB}")
  else()
    find_package(ZLIB REQUIRED)
    target_link_libraries(velmora_zlib INTERFACE ZLIB::ZLIB)
    message(STATUS "zlib: shared (run scripts/fetch_deps.sh, or install zlib1g-dev, for a static one)")
  endif()
endif()
