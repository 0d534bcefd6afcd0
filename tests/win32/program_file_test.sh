#!/usr/bin/env bash
# What kestrine.exe itself holds: the manifest that Windows reads from it
# (resource RT_MANIFEST 1: started with the rights of the user who starts it,
# Windows 7 to 11, no DPI awareness, no Common-Controls 6), no call that
# starts another program among the functions it imports, and only KnownDLLs
# among the DLLs it imports.
#   program_file_test.sh KESTRINE_EXE
set -euo pipefail
manifest=$(wrestool -x --raw --type=24 --name=1 "$1")
imports=$(x86_64-w64-mingw32-objdump -p "$1" | sed -n '/^The Import Tables/,/^The Export Tables/p')
failed=0
has() {
  if grep -qF -- "$2" <<<"$manifest"; then echo "ok: $1"; else echo "FAILED: $1" >&2; failed=1; fi
}
lacks() {
  if grep -qiF -- "$2" <<<"$manifest"; then echo "FAILED: $1" >&2; failed=1; else echo "ok: $1"; fi
}
has "started as the invoking user" '<requestedExecutionLevel level="asInvoker" uiAccess="false"/>'
has "Windows 7" '<supportedOS Id="{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"/>'
has "Windows 8" '<supportedOS Id="{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}"/>'
has "Windows 8.1" '<supportedOS Id="{1f676c76-80e1-4239-95bb-83d0f6d0da78}"/>'
has "Windows 10 and 11" '<supportedOS Id="{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"/>'
lacks "no DPI awareness" '<dpiAware'
lacks "the classic controls" 'name="Microsoft.Windows.Common-Controls"'
# Imported DLLs are KnownDLLs only, which Windows takes from the system folder
# whatever lies beside the program (it loads before SetDefaultDllDirectories
# can say so); netapi32 and secur32 are loaded at run time by full path.
others=$(grep 'DLL Name:' <<<"$imports" | awk '{print $3}' |
  grep -viE '^(advapi32|gdi32|kernel32|msvcrt|user32|wldap32|ws2_32)\.dll$' || true)
if [[ -n $others ]]; then
  echo "FAILED: imports DLLs that are no KnownDLLs: $others" >&2
  failed=1
else
  echo "ok: KnownDLLs only"
fi
if grep -qE 'CreateProcess|ShellExecute|WinExec|LoadModule' <<<"$imports"; then
  echo "FAILED: no process start" >&2
  failed=1
elif grep -q ExitProcess <<<"$imports"; then
  echo "ok: no process start"
else
  echo "FAILED: the import table was not read" >&2
  failed=1
fi
exit "$failed"
