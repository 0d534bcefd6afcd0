#pragma once

#include <string>

namespace kestrine {

// Full control as an NT access mask: every standard, specific and
// synchronize right (what "F" means to cacls).
inline constexpr unsigned kFullControlMask = 0x001F01FF;
inline constexpr const char* kAdministratorsSid = "S-1-5-32-544";

// The access list a home folder (or a file below it) gets, in libsmbclient's
// text form: full control for BUILTIN\Administrators and for the account,
// inherited by everything created below a folder, and nothing else.
std::string fullControlDescriptor(const std::string& accountSid, bool folder);

}  // namespace kestrine
