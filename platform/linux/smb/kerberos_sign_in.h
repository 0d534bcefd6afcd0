#pragma once

#include <string>

#include "platform/linux/smb/security_context.h"

namespace kestrine::smb {

// The Kerberos principal of the file server `server`: cifs/<server as
// written>@<its realm>, the realm by the Kerberos configuration's domain_realm
// mapping (empty, which lets the KDC refer the client on, when it has none).
// Never canonicalized through DNS, which an attacker who answers for DNS
// could point at a service of theirs.
std::string servicePrincipal(const std::string& server);

}  // namespace kestrine::smb
