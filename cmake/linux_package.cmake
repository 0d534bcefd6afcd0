# Linux: what `cpack` puts in the Debian package kestrine_<version>_amd64.deb
# (the program, its desktop entry and its icon, nothing else) and the package's
# fields. Included from the top CMakeLists.txt after the program's target.
include(GNUInstallDirs)
find_program(KESTRINE_ICOTOOL icotool REQUIRED)

# `cpack` and `make install` copy what is built and build nothing: the tests
# and tools in `all` take minutes and belong to no package.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

# The hicolor theme's PNGs, taken from the program's icon (its 32-bit pictures).
set(_kestrine_icons)
foreach(size 16 32 48)
  set(png ${CMAKE_BINARY_DIR}/kestrine-${size}.png)
  add_custom_command(OUTPUT ${png}
    COMMAND ${KESTRINE_ICOTOOL} --extract --width=${size} --height=${size} --bit-depth=32
      --output=${png} ${CMAKE_SOURCE_DIR}/ui/assets/kestrine.ico
    DEPENDS ${CMAKE_SOURCE_DIR}/ui/assets/kestrine.ico
    VERBATIM)
  list(APPEND _kestrine_icons ${png})
  install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
    RENAME kestrine.png COMPONENT kestrine)
endforeach()
add_custom_target(kestrine_icons ALL DEPENDS ${_kestrine_icons})
add_dependencies(kestrine kestrine_icons)

install(TARGETS kestrine RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT kestrine)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/linux/kestrine.desktop
  DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT kestrine)

set(KESTRINE_MAINTAINER "Kestrine maintainers <kestrine@example.org>" CACHE STRING
  "Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kestrine)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${KESTRINE_MAINTAINER})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# Only the program's component: never a test, harness or bench tool.
set(CPACK_COMPONENTS_ALL kestrine)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_DEBIAN_PACKAGE_NAME kestrine)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${KESTRINE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "Active Directory accounts and home folders from a CSV file
Kestrine reads a CSV file of users and creates, for every line, an
organizational unit, a user account in it and the user's home folder on a
file share, with full control for the user and the Administrators group.")
include(CPack)
