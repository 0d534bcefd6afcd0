#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kestrine {

// What the folder step needs of the file server that holds the home folders,
// whichever client reaches it. Paths are the platform's own with \ between
// the elements: \\server\share\folder\... (and on Windows a local C:\...).
// Failures are PlatformErrors that say what was being done, the path and what
// the server answered; looking for and creating a folder fail with a
// FileError, whose code is the errno.
class FileServer {
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

  virtual ~FileServer() = default;

  // Whether a folder is at the path: false when there is nothing or no
  // folder; fails when the server could not tell. What it reads of the
  // folder may answer the list() that follows.
  virtual bool isFolder(const std::string& path) = 0;
  // Creates the last element of the path only, never a parent or a share.
  // With an account's SID, the folder gets in the same request the access
  // list that setFullControl gives a folder, so that a new folder needs no
  // grant after; with "" the one it inherits. False, and nothing changed,
  // when something of that name is there already; fails when its parent
  // cannot be reached or access is denied.
  virtual bool createFolder(const std::string& path, const std::string& accountSid) = 0;
  // True when the folder is one that the last call created: it is empty.
  virtual bool createdJustNow(const std::string& folder) const = 0;
  // True when, besides, it was created with full control for this account.
  virtual bool createdGrantingTo(const std::string& folder,
                                 const std::string& accountSid) const = 0;
  virtual Listing list(const std::string& folder) = 0;
  // The SIDs ("S-1-...") to which the access list of what the path names
  // (itself, never what it may point at) allows anything, each once, in the
  // list's order.
  virtual std::vector<std::string> grantees(const std::string& path) = 0;
  // Replaces the whole access list of what the path names, itself and never
  // what it may point at, by full control for BUILTIN\Administrators and for
  // the account (its SID, "S-1-5-21-..."), inherited by everything created
  // below a folder.
  virtual void setFullControl(const std::string& path, const std::string& accountSid,
                              bool folder) = 0;
};

}  // namespace kestrine
