#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/linux/smb/unc_path.h"

namespace kestrine {

// What the permission grant needs of a file share. SmbContext is the real
// one; failures are FileErrors.
class ShareAccess {
 public:
  struct Entry {
    std::string name;
    bool isFolder = false;
    // The server's file ID, the same whatever name reaches the object; 0
    // when the server gives none.
    std::uint64_t id = 0;
  };
  struct Listing {
    std::uint64_t id = 0;        // of the folder listed itself, 0 when unknown
    std::vector<Entry> entries;  // without "." and ".."
  };

  virtual ~ShareAccess() = default;
  // True when the last call created this folder: it is empty.
  virtual bool createdJustNow(const UncPath& path) const = 0;
  virtual Listing list(const UncPath& path) = 0;
  // Sets what the text names (libsmbclient's form, see SmbContext); the access
  // list given replaces the whole existing one.
  virtual void setSecurityDescriptor(const UncPath& path, const std::string& descriptor) = 0;
};

}  // namespace kestrine
