#include "platform/linux/smb/smb_permissions.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <unordered_map>
#include <vector>

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

GrantResult failed(int code, std::string reason) {
  return {code != 0 ? code : EIO, std::move(reason)};
}

std::string folded(std::string url) {
  for (char& c : url) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return url;
}

bool contains(const std::vector<std::uint64_t>& ids, std::uint64_t id) {
  return std::find(ids.begin(), ids.end(), id) != ids.end();
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
  const bool empty = share_->createdJustNow(*top);
  try {
    share_->setSecurityDescriptor(*top, fullControlDescriptor(sid, true));
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
  struct Folder {
    UncPath path;
    int depth = 0;
    std::uint64_t id = 0;
    std::vector<std::uint64_t> above;  // file IDs of the folders above it
  };
  // By URL in lower case, as SMB servers compare names; the URL as it was.
  std::unordered_map<std::string, std::string> visited{{folded(top->url()), top->url()}};
  std::vector<Folder> pending{{*top, 0, 0, {}}};
  while (!pending.empty()) {
    const Folder current = std::move(pending.back());
    pending.pop_back();
    ShareAccess::Listing listing;
    try {
      listing = share_->list(current.path);
    } catch (const PlatformError& e) {
      note(e);
      continue;
    }
    std::vector<std::uint64_t> above = current.above;
    if (const auto id = listing.id != 0 ? listing.id : current.id; id != 0) above.push_back(id);

    for (const auto& entry : listing.entries) {
      // A way back up (a link to a folder above): that one is being done.
      if (entry.isFolder && entry.id != 0 && contains(above, entry.id)) continue;
      const UncPath below = current.path.child(entry.name);
      std::string url;
      try {
        url = below.url();
      } catch (const PlatformError& e) {
        note(e);
        continue;
      }
      const auto [seen, added] = visited.try_emplace(folded(url), url);
      if (!added) {
        // The same name listed twice was done once; a name differing only in
        // case is one object to one server and two to another.
        if (seen->second != url) {
          note(FileError(EEXIST, below.text() +
                                     ": left unchanged: another name in its folder differs "
                                     "from it only in case"));
        }
        continue;
      }
      try {
        share_->setSecurityDescriptor(below, fullControlDescriptor(sid, entry.isFolder));
      } catch (const PlatformError& e) {
        note(e);
      }
      if (!entry.isFolder) continue;
      if (current.depth + 1 >= kMaxFolderDepth) {
        note(FileError(ELOOP, below.text() + ": what lies below was left unchanged: more than " +
                                  std::to_string(kMaxFolderDepth) + " folder levels below " +
                                  top->text()));
        continue;
      }
      pending.push_back({below, current.depth + 1, entry.id, above});
    }
  }
  if (failures > 1) {
    result.reason += " (and " + std::to_string(failures - 1) + " more below " + folder + ")";
  }
  return result;
}

}  // namespace kestrine
