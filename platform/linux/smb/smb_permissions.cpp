#include "platform/linux/smb/smb_permissions.h"

#include <string>

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

}  // namespace

std::string fullControlDescriptor(const std::string& accountSid, bool folder) {
  return "REVISION:1," + allowEntry(kAdministratorsSid, folder) + "," +
         allowEntry(accountSid, folder);
}

}  // namespace kestrine
