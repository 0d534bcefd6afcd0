#include "platform/windows/cacls_command.h"

#include <algorithm>

namespace kestrine {

namespace {

bool safeInQuotes(const std::string& text) {
  return std::none_of(text.begin(), text.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return c == '"' || c == '%' || c == '^' || byte < 0x20 || byte == 0x7F;
  });
}

}  // namespace

std::optional<std::string> caclsCommand(const std::string& homeFolder,
                                        const std::string& accountName) {
  if (!safeInQuotes(homeFolder) || !safeInQuotes(accountName)) return std::nullopt;
  return "%COMSPEC% /c Echo Y| cacls \"" + homeFolder + "\" /t /c /g Administrators:f \"" +
         accountName + "\":F";
}

}  // namespace kestrine
