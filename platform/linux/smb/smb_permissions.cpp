#include "platform/linux/smb/smb_permissions.h"

#include <cerrno>

#include "platform/linux/smb/unc_path.h"

namespace kestrine {

namespace {

// libsmbclient's text form of an access entry: SID:type/flags/mask, with the
// mask in decimal (it misreads hexadecimal masks as 0).
constexpr int kAccessAllowed = 0;
constexpr int kObjectAndContainerInherit = 0x1 | 0x2;

std::string allowEntry(const std::string& sid, bool folder) {
  return "ACL:" + sid + ":" + std::to_string(kAccessAllowed) + "/" +
         std::to_string(folder ? kObjectAndContainerInherit : 0) + "/" +
         std::to_string(kFullControlMask);
}

UncPath onShare(const std::string& path) {
  const auto unc = parseUncPath(path);
  if (!unc) throw FileError(EINVAL, path + " is not a folder on a network share");
  return *unc;
}

}  // namespace

std::string fullControlDescriptor(const std::string& accountSid, bool folder) {
  return "REVISION:1," + allowEntry(kAdministratorsSid, folder) + "," +
         allowEntry(accountSid, folder);
}

bool SmbShareAccess::createdJustNow(const std::string& folder) const {
  const auto unc = parseUncPath(folder);
  return unc && smb_->createdJustNow(*unc);
}

ShareAccess::Listing SmbShareAccess::list(const std::string& folder) {
  return smb_->list(onShare(folder));
}

void SmbShareAccess::grantFullControl(const std::string& path, const std::string& accountSid,
                                      bool folder) {
  smb_->setSecurityDescriptor(onShare(path), fullControlDescriptor(accountSid, folder));
}

}  // namespace kestrine
