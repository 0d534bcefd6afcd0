#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform_error.h"

namespace kestrine {

// A file ID that identifies something: 0 and 0xFFFFFFFFFFFFFFFF mean that
// the server or its file system gave none ([MS-FSCC] 2.1.9: such an ID is
// to be ignored).
constexpr bool knownFileId(std::uint64_t id) {
  return id != 0 && id != ~std::uint64_t{0};
}

// A reparse tag whose object stands for another name, as
// IsReparseTagNameSurrogate says: junctions, symbolic links, mount points.
// Other tags (deduplicated, tiered, HSM files) mark files and folders that
// are what they say.
constexpr bool isNameSurrogate(std::uint32_t tag) {
  return (tag & 0x20000000u) != 0;
}

// Whether a reparse point leads elsewhere: one with a name-surrogate tag, or
// one whose tag the server did not give (0), to be safe.
constexpr bool leadsElsewhere(bool reparsePoint, std::uint32_t tag) {
  return reparsePoint && (tag == 0 || isNameSurrogate(tag));
}

// What the handle that is about to change an object's access list found
// that object to be, read on that handle itself.
struct OpenedObject {
  std::uint64_t id = 0;  // 0 or ~0 when the server gives none
  bool isReparsePoint = false;
  std::uint32_t reparseTag = 0;  // of a reparse point; 0 when unknown
};

// The check made on that handle before anything is changed: throws a
// FileError with ELOOP when the object is a junction or link, or not the one
// the listing gave under that name (another put in its place since; an ID of
// 0 or ~0 on either side checks nothing).
void requireListedObject(const std::string& path, const OpenedObject& opened,
                         std::uint64_t listedId);

// What the folder step needs of the file server that holds the home folders,
// whichever client reaches it. Paths are the platform's own with \ between
// the elements: \\server\share\folder\... (and on Windows a local C:\...).
// Failures are PlatformErrors that say what was being done, the path and what
// the server answered; looking for and creating a folder fail with a
// FileError, whose code is the errno.
class FileServer {
 public:
  // FILE_ATTRIBUTE_REPARSE_POINT: a junction, a symbolic link, a mount point,
  // or a deduplicated, tiered or HSM file; its reparse tag tells which.
  static constexpr std::uint32_t kReparsePoint = 0x400;

  struct Entry {
    std::string name;
    bool isFolder = false;
    bool isReparsePoint = false;
    std::uint32_t reparseTag = 0;  // of a reparse point; 0 when the server did not give it
    std::uint64_t id = 0;          // the file ID; 0 or ~0 when unknown
    // The server would act on what the entry points at, not on the entry.
    bool isLink() const { return leadsElsewhere(isReparsePoint, reparseTag); }
  };
  struct Listing {
    // File IDs, the same whatever name reaches the object; 0 or ~0 when
    // unknown.
    std::uint64_t id = 0;        // of the folder listed (its "." entry)
    std::uint64_t parentId = 0;  // of the folder that holds it (its ".." entry)
    std::vector<Entry> entries;  // without "." and ".."
  };

  // What setFullControl sets, and on what.
  struct FullControl {
    std::string accountSid;  // "S-1-5-21-..."
    bool folder = false;     // what is created below inherits the entries
    // The file ID its folder's listing gave the object; 0 for none (the home
    // folder itself).
    std::uint64_t listedId = 0;
    // BUILTIN\Administrators becomes the owner as well, so that whoever made
    // the object keeps no owner's right to change its access list back.
    bool administratorsOwn = false;
  };

  // One object of a batch: what setFullControl would be given for it.
  struct Target {
    std::string path;
    FullControl grant;
    // A folder: listed together with its check, and set only when the
    // caller takes its listing (a folder that lies elsewhere is not).
    bool listFirst = false;
  };
  struct Granted {
    bool set = false;
    // Why it was not set: its listing's failure or its set's; none when it
    // was set, or when the caller did not take its listing.
    std::optional<PlatformError> error;
    std::optional<Listing> listing;  // of a folder listed first, when it could be
  };
  // Whether a folder's listing (by its index in the batch) lets it be set.
  using ListingCheck = std::function<bool(std::size_t target, const Listing&)>;

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
  // the account, inherited by everything created below a folder; nothing
  // below is changed. The object is opened as itself and checked on that
  // handle with requireListedObject() before anything is set: a junction,
  // a link or an object other than the one listed fails with ELOOP.
  virtual void setFullControl(const std::string& path, const FullControl& grant) = 0;
  // setFullControl for each target, a folder's listing first where asked
  // and checked before its set; one outcome per target, in their order. A
  // failure of one object, or of the whole batch, is its outcome's and never
  // thrown. Here one object after the other; a client that can put the
  // requests of many objects in flight together does so.
  virtual std::vector<Granted> setFullControlAll(const std::vector<Target>& targets,
                                                 const ListingCheck& accept);
};

}  // namespace kestrine
