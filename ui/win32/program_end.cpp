#include "ui/win32/program_end.h"

#include <windows.h>

#include <cstdio>

namespace kestrine::win32 {

void endProgram() {
  std::fflush(nullptr);
  ExitProcess(0);
}

}  // namespace kestrine::win32
