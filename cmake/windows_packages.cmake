# Windows: a program's file properties (a VERSIONINFO resource) and its
# packages, a zip and an NSIS installer, all with the project's version.
# Included from the Windows branch of the top CMakeLists.txt.
enable_language(RC)

# VERSIONINFO's numbers have four parts; the ones the project leaves out are 0.
set(_kestrine_version_parts)
foreach(part MAJOR MINOR PATCH TWEAK)
  if("${PROJECT_VERSION_${part}}" STREQUAL "")
    list(APPEND _kestrine_version_parts 0)
  else()
    list(APPEND _kestrine_version_parts ${PROJECT_VERSION_${part}})
  endif()
endforeach()
list(JOIN _kestrine_version_parts "," KESTRINE_RC_VERSION_COMMAS)
list(JOIN _kestrine_version_parts "." KESTRINE_VERSION_FOUR_PARTS)

# Adds the file properties (name, description, version) to the program <target>.
function(kestrine_version_resource target)
  # The file's own name, known only when the build is generated.
  set(KESTRINE_RC_ORIGINAL_FILENAME "$<TARGET_FILE_NAME:${target}>")
  set(KESTRINE_RC_INTERNAL_NAME "$<TARGET_FILE_BASE_NAME:${target}>")
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  configure_file(${CMAKE_SOURCE_DIR}/app/version.rc.in ${rc}.in @ONLY)
  file(GENERATE OUTPUT ${rc} INPUT ${rc}.in)
  target_sources(${target} PRIVATE ${rc})
endfunction()

# Makes, with every build, the zip and the installer of the program <target>
# (installed as kestrine.exe):
#   Kestrine-<version>-win64.zip        kestrine.exe, LICENSE.txt and README.txt
#                                       in a folder; the same bytes from every
#                                       build of one commit
#   Kestrine-<version>-win64-setup.exe  the NSIS installer
# and records them for the tests in tests/packaging, which must come after.
function(kestrine_windows_packages target)
  find_program(KESTRINE_MAKENSIS makensis REQUIRED)
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  set(name Kestrine-${PROJECT_VERSION}-win64)
  set(work ${CMAKE_BINARY_DIR}/package)
  set(zip ${CMAKE_BINARY_DIR}/${name}.zip)
  set(installer ${CMAKE_BINARY_DIR}/${name}-setup.exe)
  set(readme ${work}/README.txt)
  set(license ${work}/LICENSE.txt)
  set(icon ${CMAKE_SOURCE_DIR}/ui/assets/kestrine.ico)
  set(script ${CMAKE_SOURCE_DIR}/packaging/windows/kestrine.nsi)
  # Notepad on older Windows shows a file with bare line feeds as one line.
  configure_file(${CMAKE_SOURCE_DIR}/packaging/windows/README.txt.in ${readme}
    @ONLY NEWLINE_STYLE CRLF)
  configure_file(${CMAKE_SOURCE_DIR}/LICENSE ${license} @ONLY NEWLINE_STYLE CRLF)
  # No link time in the program's header, so that a rebuild gives the same bytes.
  target_link_options(${target} PRIVATE -Wl,--no-insert-timestamp)

  set(make_zip ${CMAKE_SOURCE_DIR}/packaging/windows/make_zip.py)
  add_custom_command(OUTPUT ${zip}
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${work}/${name}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${work}/${name}
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:${target}> ${work}/${name}/kestrine.exe
    COMMAND ${Python3_EXECUTABLE} ${make_zip} ${zip} ${name}
      ${work}/${name}/kestrine.exe ${license} ${readme}
    WORKING_DIRECTORY ${work}
    DEPENDS ${target} ${readme} ${license} ${make_zip}
    COMMENT "Packing ${name}.zip"
    VERBATIM)
  add_custom_command(OUTPUT ${installer}
    COMMAND ${KESTRINE_MAKENSIS} -V2 -INPUTCHARSET UTF8
      -DVERSION=${PROJECT_VERSION} -DVERSION_FOUR_PARTS=${KESTRINE_VERSION_FOUR_PARTS}
      -DPROGRAM=$<TARGET_FILE:${target}> -DICON=${icon} -DREADME=${readme}
      -DLICENSE=${license} -DOUTFILE=${installer} ${script}
    DEPENDS ${target} ${readme} ${license} ${icon} ${script}
    COMMENT "Making the installer ${name}-setup.exe"
    VERBATIM)
  add_custom_target(kestrine_windows_packages ALL DEPENDS ${zip} ${installer})

  # Global, so that the call may sit in the directory of the program's target.
  set_property(GLOBAL PROPERTY KESTRINE_WINDOWS_PROGRAM ${target})
  set_property(GLOBAL PROPERTY KESTRINE_WINDOWS_ZIP ${zip})
  set_property(GLOBAL PROPERTY KESTRINE_WINDOWS_INSTALLER ${installer})
endfunction()
