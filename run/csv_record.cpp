#include "run/csv_record.h"

#include <algorithm>
#include <cstdio>

namespace kestrine {

std::vector<std::string> splitRecord(std::string_view line) {
  std::vector<std::string> fields;
  if (line.empty()) return fields;
  fields.reserve(static_cast<std::size_t>(std::count(line.begin(), line.end(), ',')) + 1);
  for (;;) {
    const auto comma = line.find(',');
    fields.emplace_back(line.substr(0, comma));
    if (comma == std::string_view::npos) break;
    line.remove_prefix(comma + 1);
  }
  return fields;
}

bool isRecord(const std::vector<std::string>& fields) {
  return !fields.empty() && !fields[0].empty() && fields[0] != kSkipSentinel;
}

bool takeColumn(const std::vector<std::string>& fields, std::size_t index, std::string& target) {
  if (index >= fields.size()) return false;
  target = fields[index];
  return true;
}

namespace {

bool isControl(unsigned char c) {
  return c < 0x20 || c == 0x7F;
}

}  // namespace

std::optional<ControlCharacter> findControlCharacter(const std::vector<std::string>& fields) {
  for (std::size_t column = 0; column < fields.size() && column < kColumnsUsed; ++column) {
    for (const char c : fields[column]) {
      const auto byte = static_cast<unsigned char>(c);
      if (isControl(byte)) return ControlCharacter{column, byte};
    }
  }
  return std::nullopt;
}

std::size_t columnAt(const std::vector<std::string>& fields, std::size_t offset) {
  std::size_t column = 0;
  for (const std::string& field : fields) {
    if (offset < field.size()) break;
    offset -= field.size() + 1;  // and its comma
    ++column;
  }
  return column;
}

std::string printable(std::string_view text) {
  std::string shown;
  shown.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (!isControl(byte)) {
      shown += c;
      continue;
    }
    // U+2400..U+2421 in UTF-8: E2 90 80..A1.
    const unsigned picture = byte == 0x7F ? 0x21 : byte;
    shown += "\xE2\x90";
    shown += static_cast<char>(0x80 + picture);
  }
  return shown;
}

std::string codePoint(unsigned char character) {
  char text[8];
  std::snprintf(text, sizeof text, "U+%04X", static_cast<unsigned>(character));
  return text;
}

}  // namespace kestrine
