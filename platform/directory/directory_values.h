#pragma once

#include <string>
#include <string_view>

#include "platform/directory.h"
#include "platform/directory_session.h"

// What the directory is told, the same whichever library sends it.

namespace kestrine {

// The attribute a property name stands for, with its value as directory
// text: ScriptPath is scriptPath, AccountExpirationDate is accountExpires,
// numbers are written in decimal, and an empty text means no value (the
// directory holds no empty values).
AttributeValues attributeForProperty(const std::string& name, const PropertyValue& value);

// The value of accountExpires for a date given as "MM/DD/YYYY"; 1 January
// 1970 means that the account never expires.
std::string accountExpiresFromDate(const std::string& date);

// The unicodePwd value for a password: the UTF-8 text in double quotes, as
// UTF-16LE. Moving it leaves no copy behind; wipe it after use.
std::string unicodePwdValue(const std::string& password);

// A binary objectSid as text, "S-1-5-21-..."; fails for malformed bytes.
std::string sidText(const std::string& objectSid);

// A SID written as text ("S-1-5-21-...") as the binary objectSid; fails for
// any other text.
std::string objectSidValue(const std::string& sid);

// Every byte of a binary value escaped for an LDAP search filter.
std::string binaryFilterValue(std::string_view value);

// The value escaped for an LDAP search filter (RFC 4515).
std::string filterValue(std::string_view value);

}  // namespace kestrine
