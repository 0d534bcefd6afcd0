#include "platform/directory/directory_values.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <utility>
#include <vector>

#include "platform/directory.h"
#include "platform/text/path_names.h"

namespace kestrine {

std::string attributeKey(std::string name) {
  return foldedCase(std::move(name));
}

std::string filterValue(std::string_view value) {
  std::string escaped;
  for (const char c : value) {
    // RFC 4515: these would end or change the filter; NUL would cut it.
    if (c == '*' || c == '(' || c == ')' || c == '\\' || c == '\0') {
      char hex[4];
      std::snprintf(hex, sizeof hex, "\\%02x",
                    static_cast<unsigned>(static_cast<unsigned char>(c)));
      escaped += hex;
    } else {
      escaped += c;
    }
  }
  return escaped;
}

std::string objectSidValue(const std::string& sid) {
  const auto refused = [&] {
    return DirectoryError(kInvalidSyntax, "\"" + sid + "\" is not a security identifier");
  };
  if (sid.rfind("S-1-", 0) != 0) throw refused();
  std::vector<std::uint64_t> parts;
  for (std::size_t at = 4; at <= sid.size();) {
    const std::size_t end = std::min(sid.find('-', at), sid.size());
    const std::string_view digits(sid.data() + at, end - at);
    if (digits.empty() || digits.size() > 15 ||
        digits.find_first_not_of("0123456789") != std::string_view::npos) {
      throw refused();
    }
    parts.push_back(std::stoull(std::string(digits)));
    at = end + 1;
  }
  // The authority, then 1 to 15 sub-authorities of 32 bits.
  if (parts.size() < 2 || parts.size() > 16 || parts[0] >= (std::uint64_t{1} << 48))
    throw refused();
  std::string value{'\x01', static_cast<char>(parts.size() - 1)};
  for (int shift = 40; shift >= 0; shift -= 8) value += static_cast<char>(parts[0] >> shift & 0xFF);
  for (std::size_t i = 1; i < parts.size(); ++i) {
    if (parts[i] > 0xFFFFFFFFu) throw refused();
    for (int shift = 0; shift < 32; shift += 8)
      value += static_cast<char>(parts[i] >> shift & 0xFF);
  }
  return value;
}

std::string binaryFilterValue(std::string_view value) {
  std::string escaped;
  for (const char c : value) {
    char hex[4];
    std::snprintf(hex, sizeof hex, "\\%02x", static_cast<unsigned>(static_cast<unsigned char>(c)));
    escaped += hex;
  }
  return escaped;
}

std::string sidText(const std::string& objectSid) {
  const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(objectSid[i]); };
  // Revision, count of sub-authorities, a 48-bit big-endian authority, then
  // the sub-authorities as 32-bit little-endian numbers.
  if (objectSid.size() < 8 || byte(0) != 1 || objectSid.size() != 8 + std::size_t{4} * byte(1)) {
    throw DirectoryError(kInvalidSyntax, "objectSid is not a security identifier");
  }
  std::uint64_t authority = 0;
  for (std::size_t i = 2; i < 8; ++i) authority = (authority << 8) | byte(i);
  std::string text = "S-1-" + std::to_string(authority);
  for (std::size_t i = 8; i < objectSid.size(); i += 4) {
    const std::uint32_t part = byte(i) | (std::uint32_t{byte(i + 1)} << 8) |
                               (std::uint32_t{byte(i + 2)} << 16) |
                               (std::uint32_t{byte(i + 3)} << 24);
    text += "-" + std::to_string(part);
  }
  return text;
}

AttributeValues attributeForProperty(const std::string& name, const PropertyValue& value) {
  std::string text;
  if (const auto* number = std::get_if<std::int16_t>(&value)) {
    text = std::to_string(*number);
  } else {
    text = std::get<std::string>(value);
  }
  AttributeValues attribute{name, {}};
  if (attributeKey(name) == "scriptpath") {
    attribute.name = "scriptPath";
  } else if (attributeKey(name) == "accountexpirationdate") {
    attribute.name = "accountExpires";
    if (!text.empty()) text = accountExpiresFromDate(text);
  }
  // The directory holds no empty values: an empty text means "no value".
  if (!text.empty()) attribute.values.push_back(std::move(text));
  return attribute;
}

std::string accountExpiresFromDate(const std::string& date) {
  namespace chrono = std::chrono;
  unsigned month = 0, day = 0;
  int year = 0;
  const auto number = [&](std::size_t from, std::size_t length, auto& out) {
    const char* first = date.data() + from;
    const auto [end, error] = std::from_chars(first, first + length, out);
    return error == std::errc() && end == first + length;
  };
  const bool shaped = date.size() == 10 && date[2] == '/' && date[5] == '/' &&
                      number(0, 2, month) && number(3, 2, day) && number(6, 4, year);
  const chrono::year_month_day ymd{chrono::year{year}, chrono::month{month}, chrono::day{day}};
  if (!shaped || !ymd.ok()) {
    throw DirectoryError(kInvalidSyntax, "\"" + date + "\" is not a date (MM/DD/YYYY)");
  }
  if (ymd == chrono::year{1970} / chrono::January / 1) return "0";
  // accountExpires counts 100-nanosecond intervals since 1 January 1601 (UTC).
  const auto days =
      chrono::sys_days(ymd) - chrono::sys_days(chrono::year{1601} / chrono::January / 1);
  return std::to_string(static_cast<std::int64_t>(days.count()) * 864'000'000'000LL);
}

std::string unicodePwdValue(const std::string& password) {
  std::string utf16;
  // At most two bytes for each byte of UTF-8, reserved up front and past the
  // string's inner buffer: the text never moves within it and a move of the
  // value takes its buffer along, so no copy of the password is left behind.
  utf16.reserve(std::max(2 * (password.size() + 2), sizeof(std::string)));
  const auto unit = [&](std::uint32_t u) {
    utf16.push_back(static_cast<char>(u & 0xFF));
    utf16.push_back(static_cast<char>(u >> 8));
  };
  unit('"');
  for (std::size_t i = 0; i < password.size();) {
    const auto lead = static_cast<unsigned char>(password[i]);
    const int length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    std::uint32_t cp = length == 1 ? lead : lead & (0x7F >> length);
    for (int k = 1; k < length && i + k < password.size(); ++k) {
      cp = (cp << 6) | (static_cast<unsigned char>(password[i + k]) & 0x3F);
    }
    i += length;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      unit(0xD800 + (cp >> 10));
      unit(0xDC00 + (cp & 0x3FF));
    } else {
      unit(cp);
    }
  }
  unit('"');
  return utf16;
}

}  // namespace kestrine
