#include "run/csv_record.h"

namespace kestrine {

std::vector<std::string> splitRecord(std::string_view line) {
  std::vector<std::string> fields;
  if (line.empty()) return fields;
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

}  // namespace kestrine
