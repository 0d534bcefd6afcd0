#pragma once

#include <memory>
#include <string>
#include <utility>

#include "platform/linux/smb/smb_context.h"
#include "platform/share_access.h"

namespace kestrine {

// Full control as an NT access mask: every standard, specific and
// synchronize right (what "F" means to cacls).
inline constexpr unsigned kFullControlMask = 0x001F01FF;
inline constexpr const char* kAdministratorsSid = "S-1-5-32-544";

// The access list a home folder (or a file below it) gets, in libsmbclient's
// text form: full control for BUILTIN\Administrators and for the account,
// inherited by everything created below a folder, and nothing else.
std::string fullControlDescriptor(const std::string& accountSid, bool folder);

// The folders below a home folder on a share, over the run's SMB context.
// Paths are \\server\share\...; one that is not is refused.
class SmbShareAccess : public ShareAccess {
 public:
  explicit SmbShareAccess(std::shared_ptr<SmbContext> smb) : smb_(std::move(smb)) {}

  bool createdJustNow(const std::string& folder) const override;
  Listing list(const std::string& folder) override;
  void grantFullControl(const std::string& path, const std::string& accountSid,
                        bool folder) override;

 private:
  std::shared_ptr<SmbContext> smb_;
};

}  // namespace kestrine
