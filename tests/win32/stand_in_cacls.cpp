// Stands in for cacls.exe, which Wine has only as a dummy: appends to the
// file that KESTRINE_CACLS_RECORD names its command line, each argument as
// the C runtime split it, and what it read on standard input; then exits
// with KESTRINE_CACLS_EXIT (0 when unset).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <iterator>
#include <string>

#include "platform/win32/wide_text.h"

namespace {

std::wstring environment(const wchar_t* name) {
  wchar_t value[1024];
  const DWORD length = GetEnvironmentVariableW(name, value, 1024);
  return length > 0 && length < 1024 ? std::wstring(value, length) : std::wstring();
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::string input(std::istreambuf_iterator<char>(std::cin), {});
  std::string record = "command line: " + kestrine::toUtf8(GetCommandLineW()) + "\n";
  for (int i = 1; i < argc; ++i) {
    record += "argument " + std::to_string(i) + ": " + kestrine::toUtf8(argv[i]) + "\n";
  }
  record += "input: " + input + "\n";
  const std::wstring path = environment(L"KESTRINE_CACLS_RECORD");
  if (!path.empty()) {
    if (std::FILE* out = _wfopen(path.c_str(), L"ab")) {
      std::fwrite(record.data(), 1, record.size(), out);
      std::fclose(out);
    }
  }
  return std::atoi(kestrine::toUtf8(environment(L"KESTRINE_CACLS_EXIT")).c_str());
}
