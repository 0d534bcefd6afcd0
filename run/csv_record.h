#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/text/printable.h"

namespace kestrine {

// Column 0 of a line that is to be passed over.
inline constexpr std::string_view kSkipSentinel = "string not to include";

// Column numbers of a record.
enum Column : std::size_t {
  kAccountName = 0,
  kCommonName = 1,
  kFirstName = 2,
  kLastName = 3,
  kPassword = 4,
  kOrganizationalUnit = 5,
  kUpnSuffix = 6,
  kFileServer = 7,
  kShareBase = 8,
  kLogonScript = 9,
};
inline constexpr std::size_t kColumnsUsed = 10;

// Splits a line at every comma: no quoting, no trimming, no limit. An empty line
// gives no column at all. The list never grows as it is filled, so that no
// copy of a column (the password) is left behind in freed memory.
std::vector<std::string> splitRecord(std::string_view line);

// A line is imported only when column 0 exists, is not empty and is not
// exactly the skip sentinel.
bool isRecord(const std::vector<std::string>& fields);

// Copies column `index` into `target` when the record has it; otherwise `target`
// keeps its earlier value. True when the column was there.
bool takeColumn(const std::vector<std::string>& fields, std::size_t index, std::string& target);

// A control character (U+0000-U+001F, U+007F) in a column that the run uses.
struct ControlCharacter {
  std::size_t column;
  unsigned char character;
};

// The first control character in columns 0 to 9, if any. Such bytes mean
// other things to the directory, to SMB paths and to C strings than the text
// shows (a NUL ends a name early), so a record that holds one is refused.
std::optional<ControlCharacter> findControlCharacter(const std::vector<std::string>& fields);

// A line that holds bytes that are no text in the file's character set: where
// the first one is in the line as shown (U+FFFD for each), and what the
// reader says of it.
struct NotTextInLine {
  std::size_t offset;
  std::string reason;
};

// The column of the byte at `offset` in the line that was split into `fields`.
std::size_t columnAt(const std::vector<std::string>& fields, std::size_t offset);

// What the run makes of a record before anything is written or carried over.
struct RecordCheck {
  std::string refusal;              // why it is refused as a whole; "" when it is taken
  std::optional<std::string> unit;  // column 5 escaped to follow "OU="; none without it
};

// A record is refused when its line holds bytes that are no text
// (`notText`), a column the run uses holds a control character, or its unit
// is no name, which would send it to the unit of an earlier record.
RecordCheck checkRecord(const std::vector<std::string>& fields,
                        const std::optional<NotTextInLine>& notText);

}  // namespace kestrine
