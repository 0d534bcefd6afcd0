#pragma once

#include <memory>
#include <string>

#include "platform/directory.h"
#include "platform/file_system.h"
#include "platform/linux/smb/share_access.h"

namespace kestrine {

// Full control as an NT access mask: every standard, specific and
// synchronize right (what "F" means to cacls).
inline constexpr unsigned kFullControlMask = 0x001F01FF;
inline constexpr const char* kAdministratorsSid = "S-1-5-32-544";

// The access list a home folder (or a file below it) gets: full control for
// BUILTIN\Administrators and for the account, inherited by everything created
// below a folder, and nothing else.
std::string fullControlDescriptor(const std::string& accountSid, bool folder);

// How many folder levels below a home folder the grant goes. Deeper lies a
// loop that the server's file IDs did not reveal, or a tree no home folder
// has; it is reported and left as it is.
inline constexpr int kMaxFolderDepth = 64;

// Grants rights on a share over the run's SMB context, in-process: the grant
// that "cacls <folder> /t /c /g Administrators:f <account>:F" makes. The
// account is found in the directory by its logon name, never guessed from
// the text of the name. The walk below the folder sets every path once and
// ends on any tree a server can show: a folder that leads back to one above
// it is not entered again.
class SmbPermissionShell : public Shell {
 public:
  SmbPermissionShell(std::shared_ptr<ShareAccess> share, AccountLookup& accounts)
      : share_(std::move(share)), accounts_(accounts) {}

  GrantResult grantFullControl(const std::string& folder, const std::string& account) override;

 private:
  std::shared_ptr<ShareAccess> share_;
  AccountLookup& accounts_;
};

}  // namespace kestrine
