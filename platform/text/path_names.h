#pragma once

#include <string>

namespace kestrine {

// Why `name` cannot be one element of a path, or "" when it can: empty, "."
// or "..", a path separator (\ or /) or a control character (U+0000-U+001F,
// U+007F). Each of these would make the path name another place than the
// one meant, or be cut short in a C string.
std::string pathElementProblem(const std::string& name);

// The name with A-Z in lower case, as SMB servers, DNS and LDAP compare
// names (they leave other letters' case alone).
std::string foldedCase(std::string name);

}  // namespace kestrine
