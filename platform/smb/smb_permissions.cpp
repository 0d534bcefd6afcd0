#include "platform/smb/smb_permissions.h"

#include <cerrno>
#include <vector>

#include "platform/smb/unc_path.h"

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

GrantResult failed(int code, std::string reason) {
  return {code != 0 ? code : EIO, std::move(reason)};
}

}  // namespace

std::string fullControlDescriptor(const std::string& accountSid, bool folder) {
  return "REVISION:1," + allowEntry(kAdministratorsSid, folder) + "," +
         allowEntry(accountSid, folder);
}

GrantResult SmbPermissionShell::grantFullControl(const std::string& folder,
                                                 const std::string& account) {
  const auto top = parseUncPath(folder);
  if (!top) return failed(EINVAL, folder + " is not a folder on a network share");
  std::string sid;
  try {
    sid = accounts_.accountSid(account);
  } catch (const PlatformError& e) {
    return failed(e.code(), e.what());
  }
  const bool empty = smb_->createdJustNow(*top);
  try {
    smb_->setSecurityDescriptor(*top, fullControlDescriptor(sid, true));
  } catch (const PlatformError& e) {
    return failed(e.code(), e.what());
  }
  if (empty) return {};

  // Everything below, going on past what cannot be changed; the first such
  // failure is what the result reports.
  GrantResult result;
  int failures = 0;
  const auto note = [&](const PlatformError& e) {
    if (failures++ == 0) result = failed(e.code(), e.what());
  };
  std::vector<UncPath> folders{*top};
  while (!folders.empty()) {
    const UncPath current = std::move(folders.back());
    folders.pop_back();
    std::vector<SmbContext::Entry> entries;
    try {
      entries = smb_->list(current);
    } catch (const PlatformError& e) {
      note(e);
    }
    for (const auto& entry : entries) {
      const UncPath below = current.child(entry.name);
      try {
        smb_->setSecurityDescriptor(below, fullControlDescriptor(sid, entry.isFolder));
      } catch (const PlatformError& e) {
        note(e);
      }
      if (entry.isFolder) folders.push_back(below);
    }
  }
  if (failures > 1) {
    result.reason += " (and " + std::to_string(failures - 1) + " more below " + folder + ")";
  }
  return result;
}

}  // namespace kestrine
