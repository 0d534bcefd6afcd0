# Linux: what `cpack` puts in the Debian package kestrine_<version>_amd64.deb
# (the program, its desktop entry, AppStream metadata, icons, manual page,
# copyright and changelog, nothing else) and the package's fields. Included from the top CMakeLists.txt
# after the program's target.
include(GNUInstallDirs)
find_program(KESTRINE_ICOTOOL icotool REQUIRED)
find_program(KESTRINE_GZIP gzip REQUIRED)

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
# Stripped as Debian strips programs: no symbols, no compiler notes.
install(CODE "execute_process(COMMAND ${CMAKE_STRIP} --strip-all
    --remove-section=.comment --remove-section=.note
    \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/kestrine\"
  COMMAND_ERROR_IS_FATAL ANY)" COMPONENT kestrine)
# Software centres take the AppStream component's id for the desktop entry's
# name, reverse DNS from the project's domain.
install(FILES ${CMAKE_SOURCE_DIR}/packaging/linux/org.kestrine.kestrine.desktop
  DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT kestrine)

# The changelog's latest entry is the version being packaged: a new version
# needs its entry first.
set(_kestrine_changelog ${CMAKE_SOURCE_DIR}/packaging/linux/changelog)
file(STRINGS ${_kestrine_changelog} _kestrine_latest LIMIT_COUNT 1)
if(NOT _kestrine_latest MATCHES "^kestrine \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "packaging/linux/changelog starts with \"${_kestrine_latest}\": "
    "add an entry for version ${PROJECT_VERSION} first")
endif()

# The AppStream metadata's release: this version, on the date of its changelog
# entry (the first trailer line, " -- Name <address>  Mon, 07 Dec 2026 ...").
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_kestrine_changelog})
file(STRINGS ${_kestrine_changelog} _kestrine_trailer REGEX "^ -- " LIMIT_COUNT 1)
if(NOT _kestrine_trailer MATCHES
    ">  [A-Z][a-z][a-z], ([0-9]?[0-9]) ([A-Z][a-z][a-z]) ([0-9][0-9][0-9][0-9]) ")
  message(FATAL_ERROR "packaging/linux/changelog: no date in \"${_kestrine_trailer}\"")
endif()
set(_kestrine_day ${CMAKE_MATCH_1})
set(_kestrine_year ${CMAKE_MATCH_3})
set(_kestrine_months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
list(FIND _kestrine_months ${CMAKE_MATCH_2} _kestrine_month)
if(_kestrine_month LESS 0)
  message(FATAL_ERROR "packaging/linux/changelog: no month \"${CMAKE_MATCH_2}\"")
endif()
math(EXPR _kestrine_month "${_kestrine_month} + 1")
string(LENGTH ${_kestrine_day} _kestrine_day_length)
if(_kestrine_day_length EQUAL 1)
  set(_kestrine_day 0${_kestrine_day})
endif()
if(_kestrine_month LESS 10)
  set(_kestrine_month 0${_kestrine_month})
endif()
set(KESTRINE_RELEASE_DATE ${_kestrine_year}-${_kestrine_month}-${_kestrine_day})
configure_file(${CMAKE_SOURCE_DIR}/packaging/linux/org.kestrine.kestrine.metainfo.xml.in
  ${CMAKE_BINARY_DIR}/package/org.kestrine.kestrine.metainfo.xml @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/package/org.kestrine.kestrine.metainfo.xml
  DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT kestrine)

# The manual page and the changelog compressed as Debian wants them (gzip -9,
# no name or time stamp inside); the copyright as it is.
configure_file(${CMAKE_SOURCE_DIR}/packaging/linux/kestrine.1.in
  ${CMAKE_BINARY_DIR}/package/source/kestrine.1 @ONLY)
set(_kestrine_docs)
foreach(source ${CMAKE_BINARY_DIR}/package/source/kestrine.1 ${_kestrine_changelog})
  get_filename_component(doc ${source} NAME)
  set(gz ${CMAKE_BINARY_DIR}/package/${doc}.gz)
  add_custom_command(OUTPUT ${gz}
    COMMAND ${CMAKE_COMMAND} -E copy ${source} ${CMAKE_BINARY_DIR}/package/${doc}
    COMMAND ${KESTRINE_GZIP} -9 --no-name --force ${CMAKE_BINARY_DIR}/package/${doc}
    DEPENDS ${source}
    VERBATIM)
  list(APPEND _kestrine_docs ${gz})
endforeach()
add_custom_target(kestrine_docs ALL DEPENDS ${_kestrine_docs})
add_dependencies(kestrine kestrine_docs)
install(FILES ${CMAKE_BINARY_DIR}/package/kestrine.1.gz
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT kestrine)
install(FILES ${CMAKE_BINARY_DIR}/package/changelog.gz
  ${CMAKE_SOURCE_DIR}/packaging/linux/copyright
  DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/kestrine COMPONENT kestrine)

set(KESTRINE_MAINTAINER "Kestrine developers <kestrine-dev@lists.kestrine.org>")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kestrine)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${KESTRINE_MAINTAINER})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Stripped by the install step above, which also drops .comment.
set(CPACK_STRIP_FILES OFF)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
  GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
# Only the program's component: never a test, harness or bench tool.
set(CPACK_COMPONENTS_ALL kestrine)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_DEBIAN_PACKAGE_NAME kestrine)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${KESTRINE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Beside what dpkg-shlibdeps finds: libsasl2 loads its GSSAPI mechanism as a
# plugin at run time, and without it no bind can work.
set(CPACK_DEBIAN_PACKAGE_DEPENDS libsasl2-modules-gssapi-mit)
# kinit and klist, and the Kerberos configuration, for the ticket it needs.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS krb5-user)
# To look at what an import made.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "smbclient, ldap-utils")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "Active Directory accounts and home folders from a CSV file
Kestrine reads a CSV file of users and creates, for every line, an
organizational unit, a user account in it and the user's home folder on a
file share, with full control for the user and the Administrators group.")
include(CPack)
