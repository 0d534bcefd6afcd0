; Kestrine's installer, made by cmake/windows_packages.cmake, which passes
; VERSION, VERSION_FOUR_PARTS, PROGRAM, ICON, README, LICENSE and OUTFILE with -D.
; For all users: Program Files, the common Start menu and HKLM, so it asks for
; administrator rights. /S installs or uninstalls silently; /D=DIR (last on the
; command line) installs elsewhere.

; The 64-bit stub: the default 32-bit one does not run on 64-bit-only Windows.
Target amd64-unicode
SetCompressor /SOLID lzma

!include "FileFunc.nsh"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Kestrine"

Name "Kestrine ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Kestrine"
; An update goes where the installed version is.
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
RequestExecutionLevel admin
Icon "${ICON}"
UninstallIcon "${ICON}"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION_FOUR_PARTS}"
VIAddVersionKey /LANG=1033 "ProductName" "Kestrine"
VIAddVersionKey /LANG=1033 "CompanyName" "Kestrine"
VIAddVersionKey /LANG=1033 "FileDescription" "Kestrine Setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Copyright 2026 Kestrine developers, GPL-3.0-or-later"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Function .onInit
  SetShellVarContext all
  SetRegView 64
FunctionEnd

Function un.onInit
  SetShellVarContext all
  SetRegView 64
FunctionEnd

Section "Kestrine"
  SetOutPath "$INSTDIR"
  File "/oname=kestrine.exe" "${PROGRAM}"
  File "/oname=kestrine.ico" "${ICON}"
  File "/oname=README.txt" "${README}"
  File "/oname=LICENSE.txt" "${LICENSE}"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  CreateShortcut "$SMPROGRAMS\Kestrine.lnk" "$INSTDIR\kestrine.exe" "" "$INSTDIR\kestrine.ico" 0

  ; Add/Remove Programs.
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Kestrine"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Kestrine"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\kestrine.ico"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

; Removes only what the installer put there: the folder may have been chosen
; with /D and hold other files, which stay, and then so does the folder.
Section "Uninstall"
  Delete "$SMPROGRAMS\Kestrine.lnk"
  Delete "$INSTDIR\kestrine.exe"
  Delete "$INSTDIR\kestrine.ico"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
