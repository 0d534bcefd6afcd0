#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kestrine {

// What the permission grant needs of the folders below a home folder, on a
// share or a local disk. Paths are the platform's own, with \ between the
// elements; failures are PlatformErrors.
class ShareAccess {
 public:
  // FILE_ATTRIBUTE_REPARSE_POINT: a junction, a symbolic link, a mount point.
  static constexpr std::uint32_t kReparsePoint = 0x400;

  struct Entry {
    std::string name;
    bool isFolder = false;
    // The server would act on what it points at, not on the entry itself.
    bool isReparsePoint = false;
  };
  struct Listing {
    // File IDs, the same whatever name reaches the object; 0 when unknown.
    std::uint64_t id = 0;        // of the folder listed (its "." entry)
    std::uint64_t parentId = 0;  // of the folder that holds it (its ".." entry)
    std::vector<Entry> entries;  // without "." and ".."
  };

  virtual ~ShareAccess() = default;
  // True when the folder is one that the run created with its last call: it
  // is empty.
  virtual bool createdJustNow(const std::string& folder) const = 0;
  virtual Listing list(const std::string& folder) = 0;
  // Replaces the whole access list of what the path names, itself and never
  // what it may point at, by full control for BUILTIN\Administrators and for
  // the account, inherited by everything created below a folder.
  virtual void grantFullControl(const std::string& path, const std::string& accountSid,
                                bool folder) = 0;
};

}  // namespace kestrine
