#include "platform/text/printable.h"

#include <cstdio>

namespace kestrine {

bool isControlCharacter(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte < 0x20 || byte == 0x7F;
}

std::string printable(std::string_view text) {
  std::string shown;
  shown.reserve(text.size());
  for (const char c : text) {
    if (!isControlCharacter(c)) {
      shown += c;
      continue;
    }
    // U+2400..U+2421 in UTF-8: E2 90 80..A1.
    const auto byte = static_cast<unsigned char>(c);
    shown += "\xE2\x90";
    shown += static_cast<char>(0x80 + (byte == 0x7F ? 0x21 : byte));
  }
  return shown;
}

std::string codePoint(unsigned char character) {
  char text[8];
  std::snprintf(text, sizeof text, "U+%04X", static_cast<unsigned>(character));
  return text;
}

}  // namespace kestrine
