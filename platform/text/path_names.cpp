#include "platform/text/path_names.h"

#include <cstdio>

namespace kestrine {

namespace {

bool isSeparator(char c) {
  return c == '\\' || c == '/';
}

bool isControl(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte < 0x20 || byte == 0x7F;
}

std::string codePoint(char c) {
  char text[8];
  std::snprintf(text, sizeof text, "U+%04X", static_cast<unsigned char>(c));
  return text;
}

}  // namespace

std::string pathElementProblem(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return "names no folder";
  for (const char c : name) {
    if (isSeparator(c)) return "holds a path separator";
    if (isControl(c)) return "holds a control character (" + codePoint(c) + ")";
  }
  return {};
}

// U+2400 + c for C0 controls, U+2421 for DEL.
std::string printableName(const std::string& name) {
  std::string shown;
  for (const char c : name) {
    if (!isControl(c)) {
      shown += c;
      continue;
    }
    const auto byte = static_cast<unsigned char>(c);
    const unsigned picture = byte == 0x7F ? 0x2421 : 0x2400 + byte;
    shown += static_cast<char>(0xE0 | (picture >> 12));
    shown += static_cast<char>(0x80 | ((picture >> 6) & 0x3F));
    shown += static_cast<char>(0x80 | (picture & 0x3F));
  }
  return shown;
}

std::string foldedCase(std::string name) {
  for (char& c : name) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return name;
}

}  // namespace kestrine
