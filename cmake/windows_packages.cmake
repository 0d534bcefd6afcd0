# Windows: a program's file properties (a VERSIONINFO resource) and its
# packages, a zip, an NSIS installer and a Windows Installer package, all with
# the project's version.
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
# Windows Installer takes at most 255.255.65535 and compares only those three
# parts: versions that differ in the fourth alone count as the same.
list(GET _kestrine_version_parts 0 _kestrine_major)
list(GET _kestrine_version_parts 1 _kestrine_minor)
list(GET _kestrine_version_parts 2 _kestrine_patch)
if(_kestrine_major GREATER 255 OR _kestrine_minor GREATER 255 OR _kestrine_patch GREATER 65535)
  message(FATAL_ERROR "Windows Installer cannot carry version ${PROJECT_VERSION}: "
    "it takes at most 255.255.65535")
endif()

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

# Makes, with every build, the zip and the installers of the program <target>
# (installed as kestrine.exe):
#   Kestrine-<version>-win64.zip        kestrine.exe, LICENSE.txt and README.txt
#                                       in a folder; the same bytes from every
#                                       build of one commit
#   Kestrine-<version>-win64-setup.exe  the NSIS installer
#   Kestrine-<version>-win64.msi        the Windows Installer package, for Group
#                                       Policy and software distribution
# and records them for the tests in tests/packaging, which must come after.
function(kestrine_windows_packages target)
  find_program(KESTRINE_MAKENSIS makensis REQUIRED)
  find_program(KESTRINE_WIXL wixl REQUIRED)
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  set(name Kestrine-${PROJECT_VERSION}-win64)
  set(work ${CMAKE_BINARY_DIR}/package)
  set(zip ${CMAKE_BINARY_DIR}/${name}.zip)
  set(installer ${CMAKE_BINARY_DIR}/${name}-setup.exe)
  set(msi ${CMAKE_BINARY_DIR}/${name}.msi)
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
  # wixl reads the files it packs from the current folder, by name. The command
  # without the version and the output file, which the tests use to make a
  # package of a later version from the same files.
  set(wxs ${CMAKE_SOURCE_DIR}/packaging/windows/kestrine.wxs)
  set(msi_files ${work}/msi)
  set(wixl ${CMAKE_COMMAND} -E chdir ${msi_files} ${KESTRINE_WIXL} --arch x64 ${wxs})
  add_custom_command(OUTPUT ${msi}
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${msi_files}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${msi_files}
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:${target}> ${msi_files}/kestrine.exe
    COMMAND ${CMAKE_COMMAND} -E copy ${readme} ${license} ${icon} ${msi_files}
    COMMAND ${wixl} -D Version=${PROJECT_VERSION} -o ${msi}
    DEPENDS ${target} ${readme} ${license} ${icon} ${wxs}
    COMMENT "Making the Windows Installer package ${name}.msi"
    VERBATIM)
  add_custom_target(kestrine_windows_packages ALL DEPENDS ${zip} ${installer} ${msi})

  # Global, so that the call may sit in the directory of the program's target.
  set_property(GLOBAL PROPERTY KESTRINE_WINDOWS_PROGRAM ${target})
  set_property(GLOBAL PROPERTY KESTRINE_WINDOWS_ZIP ${zip})
  set_property(GLOBAL PROPERTY KESTRINE_WINDOWS_INSTALLER ${installer})
  set_property(GLOBAL PROPERTY KESTRINE_WINDOWS_MSI ${msi})
  set_property(GLOBAL PROPERTY KESTRINE_WINDOWS_MSI_COMMAND "${wixl}")
endfunction()
