#include "platform/cacls_command.h"

#include <algorithm>

namespace kestrine {

namespace {

bool safeInQuotes(const std::string& text) {
  return std::none_of(text.begin(), text.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return c == '"' || c == '%' || c == '^' || byte < 0x20 || byte == 0x7F;
  });
}

// A name that cmd.exe and cacls take as one word without quotes; bytes of
// UTF-8 beyond ASCII are letters of a localized name.
bool plainWord(const std::string& text) {
  return std::all_of(text.begin(), text.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte >= 0x80 || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
           (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.';
  });
}

}  // namespace

std::optional<std::string> caclsCommand(const std::string& homeFolder,
                                        const std::string& accountName,
                                        const std::string& administrators) {
  if (!safeInQuotes(homeFolder) || !safeInQuotes(accountName) || !safeInQuotes(administrators) ||
      administrators.empty()) {
    return std::nullopt;
  }
  const std::string group = plainWord(administrators) ? administrators : '"' + administrators + '"';
  return "%COMSPEC% /c Echo Y| cacls \"" + homeFolder + "\" /t /c /g " + group + ":f \"" +
         accountName + "\":F";
}

}  // namespace kestrine
