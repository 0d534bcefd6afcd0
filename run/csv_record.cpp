#include "run/csv_record.h"

#include <algorithm>
#include <exception>

#include "platform/directory/dn.h"

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

std::optional<ControlCharacter> findControlCharacter(const std::vector<std::string>& fields) {
  for (std::size_t column = 0; column < fields.size() && column < kColumnsUsed; ++column) {
    for (const char c : fields[column]) {
      if (isControlCharacter(c)) return ControlCharacter{column, static_cast<unsigned char>(c)};
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

RecordCheck checkRecord(const std::vector<std::string>& fields,
                        const std::optional<NotTextInLine>& notText) {
  if (notText) {
    return {"check the record: column " + std::to_string(columnAt(fields, notText->offset)) +
                " is " + notText->reason,
            {}};
  }
  if (const auto control = findControlCharacter(fields)) {
    return {"check the record: column " + std::to_string(control->column) +
                " holds a control character (" + codePoint(control->character) + ")",
            {}};
  }
  RecordCheck check;
  if (kOrganizationalUnit < fields.size()) {
    try {
      check.unit = escapeDnValue(fields[kOrganizationalUnit]);
    } catch (const std::exception& e) {
      check.refusal = std::string("name the unit: ") + e.what();
    }
  }
  return check;
}

}  // namespace kestrine
