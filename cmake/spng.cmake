# libspng for the PNG reader and writer, as the target velmora_spng.
#
# Preferred: Debian's libspng 0.7.3 sources (scripts/fetch_deps.sh unpacks
# them into .deps/) compiled here into a static library and linked to
# zlib (cmake/zlib.cmake), so Linux and Windows use the same library versions, give the
# same bytes, and the program stays free of shared libraries beyond the C
# runtime. Fallback: an installed libspng-dev through pkg-config (shared).
set(VELMORA_SPNG_SOURCE_DIR "${PROJECT_SOURCE_DIR}/.deps/libspng-0.7.3" CACHE PATH
  "Unpacked libspng source package (scripts/fetch_deps.sh)")

if(EXISTS "${VELMORA_SPNG_SOURCE_DIR}/spng/spng.c")
  enable_language(C)
  add_library(velmora_spng STATIC "${VELMORA_SPNG_SOURCE_DIR}/spng/spng.c")
  target_include_directories(velmora_spng SYSTEM PUBLIC "${VELMORA_SPNG_SOURCE_DIR}/spng")
  target_compile_definitions(velmora_spng PUBLIC SPNG_STATIC)
  # Third-party code: its warnings are not ours to fix, and must never stop
  # a build.
  target_compile_options(velmora_spng PRIVATE -w)
  target_link_libraries(velmora_spng PUBLIC velmora_zlib)
  if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
    target_sources(velmora_spng PRIVATE "${PROJECT_SOURCE_DIR}/cmake/spng_lazy_pow.c")
    target_link_options(velmora_spng INTERFACE -Wl,--wrap=pow)
    target_link_libraries(velmora_spng PUBLIC ${CMAKE_DL_LIBS})
  endif()
  if(VELMORA_BUILD_FUZZ AND CMAKE_C_COMPILER_ID STREQUAL "Clang")
    target_compile_options(velmora_spng PRIVATE -fsanitize=fuzzer-no-link)
  endif()
  message(STATUS "libspng: static, from ${VELMORA_SPNG_SOURCE_DIR}")
else()
  find_package(PkgConfig QUIET)
  if(PkgConfig_FOUND)
    pkg_check_modules(VELMORA_SYSTEM_SPNG IMPORTED_TARGET spng)
  endif()
  if(NOT VELMORA_SYSTEM_SPNG_FOUND)
    message(FATAL_ERROR "libspng not found: run scripts/fetch_deps.sh (builds it from Debian's "
      "source package) or install libspng-dev")
  endif()
  add_library(velmora_spng INTERFACE)
  target_link_libraries(velmora_spng INTERFACE PkgConfig::VELMORA_SYSTEM_SPNG)
  message(STATUS "libspng: shared, from pkg-config")
endif()
