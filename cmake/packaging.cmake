# Installation and packages. `cmake --install` puts the program in bin/ and
# its manual page in share/man/man1/; CPack turns that into a Debian package
# on Linux and, in the Windows cross build, a .zip with the static .exe, the
# manual as HTML and the README. The version is project(VERSION), nothing else.
include(GNUInstallDirs)

# The manual's source carries a version in its title line for reading it in
# place; the installed page gets the build's own, so the two cannot disagree.
set(VELMORA_MANUAL_SOURCE ${PROJECT_SOURCE_DIR}/docs/velmora2d.1)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${VELMORA_MANUAL_SOURCE})
file(READ ${VELMORA_MANUAL_SOURCE} velmora_manual)
string(REGEX REPLACE "(\n\\.TH [^\n]*\"velmora2d )[0-9][0-9.]*\"" "\\1${PROJECT_VERSION}\""
  velmora_manual "\n${velmora_manual}")
string(SUBSTRING "${velmora_manual}" 1 -1 velmora_manual)
set(VELMORA_MANUAL ${PROJECT_BINARY_DIR}/velmora2d.1)
file(GENERATE OUTPUT ${VELMORA_MANUAL} CONTENT "${velmora_manual}")


if(WIN32)
  # A Windows user has no man: the zip holds the page rendered for a browser
  # (mandoc) or, failing that, as plain text (groff).
  install(TARGETS velmora2d RUNTIME DESTINATION .)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION .)
  find_program(VELMORA_MANDOC mandoc)
  find_program(VELMORA_GROFF groff)
  if(VELMORA_MANDOC)
    set(velmora_manual_out ${PROJECT_BINARY_DIR}/velmora2d.html)
    set(velmora_render_args -DFORMAT=html -DTOOL=${VELMORA_MANDOC})
  elseif(VELMORA_GROFF)
    set(velmora_manual_out ${PROJECT_BINARY_DIR}/velmora2d.txt)
    set(velmora_render_args -DFORMAT=text -DTOOL=${VELMORA_GROFF})
  else()
    message(WARNING "Neither mandoc nor groff found: the Windows package will lack the manual")
  endif()
else()
  install(TARGETS velmora2d RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  # Why the Debian package embeds zlib, in the form lintian reads.
  install(FILES ${PROJECT_SOURCE_DIR}/cmake/debian/velmora2d.lintian-overrides
    DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME velmora2d)
  # Debian wants manual pages compressed (-n: no name or time inside, so the
  # same page gives the same bytes).
  find_program(VELMORA_GZIP gzip)
  if(VELMORA_GZIP)
    set(velmora_manual_out ${PROJECT_BINARY_DIR}/velmora2d.1.gz)
    set(velmora_render_args -DFORMAT=gzip -DTOOL=${VELMORA_GZIP})
  else()
    set(velmora_manual_out ${VELMORA_MANUAL})
  endif()
endif()

if(velmora_manual_out)
  if(NOT velmora_manual_out STREQUAL VELMORA_MANUAL)
    add_custom_command(OUTPUT ${velmora_manual_out}
      COMMAND ${CMAKE_COMMAND} -DPAGE=${VELMORA_MANUAL} -DOUT=${velmora_manual_out} ${velmora_render_args}
        -P ${PROJECT_SOURCE_DIR}/cmake/render_manual.cmake
      DEPENDS ${VELMORA_MANUAL} ${PROJECT_SOURCE_DIR}/cmake/render_manual.cmake
      COMMENT "Rendering the manual page"
      VERBATIM)
  endif()
  add_custom_target(velmora_manual ALL DEPENDS ${velmora_manual_out})
  if(WIN32)
    install(FILES ${velmora_manual_out} DESTINATION .)
  else()
    install(FILES ${velmora_manual_out} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endif()
endif()

set(CPACK_PACKAGE_NAME velmora2d)
set(CPACK_PACKAGE_VENDOR "Velmora 2D Studio")
set(CPACK_PACKAGE_CONTACT "Velmora 2D Studio")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "2-D sprite atlas packer, normal maps and collision outlines")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_SOURCE_DIR}/build/packages)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME ${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-win64)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Velmora 2D Studio")
  set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # Depends comes from the binary itself (dpkg-shlibdeps): the C library.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  # Each line after the summary starts with a space in the control file;
  # CPack adds it.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"velmora2d prepares sprites for 2-D games from the command line. It packs
PNG images into one texture atlas and writes the atlas with its frame
data for Godot 4, Unity and JSON sprite-sheet loaders such as PixiJS and
Phaser. It can also compute lighting normal maps and trace collision
polygons from the sprites' alpha.")
endif()
include(CPack)
