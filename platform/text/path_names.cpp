#include "platform/text/path_names.h"

#include "platform/text/printable.h"

namespace kestrine {

namespace {

bool isSeparator(char c) {
  return c == '\\' || c == '/';
}

}  // namespace

std::string pathElementProblem(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return "names no folder";
  for (const char c : name) {
    if (isSeparator(c)) return "holds a path separator";
    if (isControlCharacter(c)) {
      return "holds a control character (" + codePoint(static_cast<unsigned char>(c)) + ")";
    }
  }
  return {};
}

std::string foldedCase(std::string name) {
  for (char& c : name) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return name;
}

}  // namespace kestrine
