#include "platform/text/wipe.h"

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <string.h>
#endif

namespace kestrine {

void wipe(void* data, std::size_t size) {
  if (size == 0) return;
#ifdef _WIN32
  SecureZeroMemory(data, size);
#else
  explicit_bzero(data, size);
#endif
}

}  // namespace kestrine
