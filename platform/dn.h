#pragma once

#include <string>
#include <string_view>

namespace kestrine {

// The value escaped as an RFC 4514 attribute value, so that it can follow
// "OU=" or "cn=" and stay one value whatever characters it holds.
std::string escapeDnValue(std::string_view value);

// The distinguished name in its canonical text form (insignificant blanks
// dropped). Throws DirectoryError for text that is no distinguished name.
std::string normalizeDn(std::string_view dn);

// The name of a child of `parentDn` with the single relative name
// `relativeName` ("OU=Sales"). Throws DirectoryError when either is malformed.
std::string childDn(std::string_view relativeName, std::string_view parentDn);

}  // namespace kestrine
