#!/bin/sh
# Builds the Win32 self-check with mingw-w64 and runs it under Wine.
# Usage: tests/win32/run_self_check.sh [BUILD-DIR]
set -eu
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
build_dir=${1:-/tmp/kestrine-win32-check}
mkdir -p "$build_dir"
x86_64-w64-mingw32-g++-posix -std=c++20 -DUNICODE -D_UNICODE -O1 -g \
  -Wall -Wextra -Werror -Wold-style-cast -Wnon-virtual-dtor -I"$source_dir" -static \
  -o "$build_dir/win32_self_check.exe" \
  "$source_dir/tests/win32/win32_self_check.cpp" \
  "$source_dir/platform/win32/wide_text.cpp" \
  "$source_dir/platform/win32/win32_file_system.cpp" \
  "$source_dir/platform/win32/cacls_shell.cpp" \
  "$source_dir/platform/cacls_command.cpp" \
  "$source_dir/platform/line_reader.cpp" \
  "$source_dir/platform/utf16_decoder.cpp"
export WINEPREFIX=${WINEPREFIX:-$build_dir/wine} WINEDEBUG=${WINEDEBUG:--all}
if [ ! -d "$WINEPREFIX" ]; then
  wineboot -i >/dev/null 2>&1
  # A crash ends the run instead of waiting in a dialog.
  wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null
fi
exec timeout 300 wine "$build_dir/win32_self_check.exe"
