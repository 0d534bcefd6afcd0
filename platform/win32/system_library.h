#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <string>

namespace kestrine {

// A function of a Windows DLL that is no KnownDLL (netapi32, secur32), taken
// from the system folder by its full path and never from the program's
// folder or the current one, where a DLL of that name may have been put
// (the zip can be unpacked into a downloads folder). Its own imports are
// looked for beside it first (LOAD_WITH_ALTERED_SEARCH_PATH, "LoadLibraryExW
// function (libloaderapi.h)"). Null when it cannot be had.
template <class Function>
Function* systemFunction(const wchar_t* library, const char* name) {
  wchar_t folder[MAX_PATH];
  const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return nullptr;
  const std::wstring path = std::wstring(folder, length) + L"\\" + library;
  HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (!module) return nullptr;
  // Through void(*)(): GetProcAddress gives every function as one type.
  return reinterpret_cast<Function*>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

}  // namespace kestrine
