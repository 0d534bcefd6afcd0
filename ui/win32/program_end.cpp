#include "ui/win32/program_end.h"

#include <windows.h>

#include <cstdio>

namespace kestrine::win32 {

namespace {

bool blocking = false;

}  // namespace

void loadDllsFromSystemOnly() {
  // "SetDefaultDllDirectories function (libloaderapi.h)": Windows 8 on, and
  // Windows 7 with KB2533623, hence looked up rather than imported. Without
  // it, SetDllDirectoryW(L"") takes at least the current folder out of the
  // search ("SetDllDirectoryW function").
  using SetDirectories = BOOL WINAPI(DWORD);
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  auto* set = kernel ? reinterpret_cast<SetDirectories*>(reinterpret_cast<void (*)()>(
                           GetProcAddress(kernel, "SetDefaultDllDirectories")))
                     : nullptr;
  if (!set || !set(LOAD_LIBRARY_SEARCH_SYSTEM32)) SetDllDirectoryW(L"");
}

void endProcess(int status) {
  std::fflush(nullptr);
  // Unlike ExitProcess, no DLL_PROCESS_DETACH runs, which could wait for a
  // lock that an abandoned wldap32 thread holds ("TerminateProcess function
  // (processthreadsapi.h)"). On this process, it does not come back.
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(status));
  ExitProcess(static_cast<UINT>(status));
}

void endProgram() {
  endProcess(0);
}

// "ShutdownBlockReasonCreate function (winuser.h)": the window that answers
// WM_QUERYENDSESSION with FALSE shows this reason in the shutdown screen.
ShutdownBlock::ShutdownBlock(void* window) : window_(window) {
  ShutdownBlockReasonCreate(static_cast<HWND>(window_), L"Kestrine is creating accounts");
  blocking = true;
}

ShutdownBlock::~ShutdownBlock() {
  blocking = false;
  ShutdownBlockReasonDestroy(static_cast<HWND>(window_));
}

bool ShutdownBlock::active() {
  return blocking;
}

}  // namespace kestrine::win32
