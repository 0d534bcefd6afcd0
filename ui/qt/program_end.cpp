#include "ui/qt/program_end.h"

#include <cstdio>
#include <cstdlib>

namespace kestrine {

void endProgram() {
  std::fflush(nullptr);
  std::_Exit(0);
}

}  // namespace kestrine
