#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/smb/file_information.h"
#include "platform/linux/smb/security_descriptor.h"
#include "platform/linux/smb/session.h"
#include "platform/linux/smb/share_path.h"

namespace kestrine::smb {

// What an open of an object read on its own handle.
struct ObjectInfo {
  std::uint64_t fileId = 0;  // FileInternalInformation; 0 when the server has none
  std::uint32_t attributes = 0;
  std::uint32_t reparseTag = 0;  // 0 unless FILE_ATTRIBUTE_REPARSE_POINT
  bool isFolder() const { return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
  bool isReparsePoint() const { return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }
};

struct Listing {
  std::uint32_t attributes = 0;         // of the folder listed, from its open
  std::uint32_t reparseTag = 0;         // its "." entry's, when it is a reparse point
  std::uint64_t id = 0;                 // its "." entry
  std::uint64_t parentId = 0;           // its ".." entry
  std::vector<DirectoryEntry> entries;  // without "." and ".."
};

// One object of a flight of access-list sets.
struct SecurityTarget {
  SharePath path;
  const SecurityDescriptor* descriptor = nullptr;
  // The file ID the listing showed; 0 (or 0xFFFFFFFFFFFFFFFF) when unknown:
  // then only the reparse check is made.
  std::uint64_t expectedFileId = 0;
  // A folder listed in the first flight too, and set only once the caller
  // has taken its listing.
  bool listFirst = false;
};
struct SecurityOutcome {
  bool set = false;
  std::optional<ObjectInfo> object;  // what was opened, when it was
  std::optional<Listing> listing;    // of a folder listed first, when it was
  // Why it was not set; nullptr when it was, or when the caller did not take
  // its listing.
  std::exception_ptr error;
};
// Whether a folder's listing (by the index of its target) lets it be set.
using ListingCheck = std::function<bool(std::size_t target, const Listing&)>;

// A swapped or linked object: the open found something other than what the
// caller expected, and nothing was changed.
class ObjectChanged : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The file operations the folder step needs, over one signed (and, where the
// server can, sealed) session per file server. Every open names the reparse
// point itself (FILE_OPEN_REPARSE_POINT): nothing here acts through a
// junction or a link. A share in a DFS namespace is followed to its target
// (STATUS_PATH_NOT_COVERED, then a referral). Every call ends by its
// deadline; failures are StatusError (the server's answer), ObjectChanged,
// ReplyRefused or MalformedReply (a reply not believed; the connection is
// closed), TransportError and SignInError.
class Client {
 public:
  using Connector = std::function<std::unique_ptr<Transport>(const std::string& server, Deadline)>;
  using SignIn = std::function<std::unique_ptr<SecurityContext>(const std::string& server)>;

  // Over TCP port 445 with the caller's Kerberos ticket.
  Client();
  Client(Connector connect, SignIn signIn, std::vector<std::uint16_t> dialects = kAllDialects);
  ~Client();

  // A new folder with its security descriptor in the create request (without
  // one, it inherits) and its close in the same compound: one round trip. An
  // existing name fails with STATUS_OBJECT_NAME_COLLISION. `answerBy`, when
  // given, is asked as the create goes out until when its answer is awaited
  // (a write is not sent twice: it may be awaited past `deadline`).
  void createFolder(const SharePath& folder, const std::optional<SecurityDescriptor>& descriptor,
                    Deadline deadline, const std::function<Deadline()>& answerBy = {});

  // Sets the DACL (and the owner when the descriptor has one) of an existing
  // object in one compound: open, its identity read, set, close. Returns what
  // was opened.
  ObjectInfo setSecurity(const SharePath& path, const SecurityDescriptor& descriptor,
                         Deadline deadline);

  // Sets the descriptors of several objects, their requests in flight
  // together, as many as the server's credits allow: each opened with its
  // identity read, and each folder to be listed first listed (one flight),
  // then set and closed (a second flight) only when it is the object the
  // caller listed (its file ID), no junction or link (a name surrogate
  // reparse tag) and, for a folder listed, when `accept` takes its listing
  // (without `accept`, none is).
  // A folder whose listing takes more than one answer costs a round trip
  // more per answer. One outcome per target, in their order; a failure of
  // the connection throws.
  std::vector<SecurityOutcome> setSecurityChecked(const std::vector<SecurityTarget>& targets,
                                                  Deadline deadline,
                                                  const ListingCheck& accept = nullptr);

  // A folder's entries, with their attributes, reparse tags and file IDs;
  // the open, its first listing and the check for more in one compound.
  Listing list(const SharePath& folder, Deadline deadline);

  // The owner, group and DACL of an object.
  SecurityDescriptor readSecurity(const SharePath& path, Deadline deadline);

  // What is at a path, or nothing when the name is not there (a missing
  // parent is an error: STATUS_OBJECT_PATH_NOT_FOUND).
  std::optional<ObjectInfo> stat(const SharePath& path, Deadline deadline);

  // How the session to a server was set up; nullptr before the first call.
  const SessionInfo* sessionInfo(const std::string& server) const;
  // Forgets the server's session and connection; the next call opens new ones.
  void drop(const std::string& server);

 private:
  struct Server;
  struct Open;
  Server& server(const std::string& name, Deadline deadline);
  Tree& tree(const SharePath& path, Deadline deadline);
  SharePath resolve(const SharePath& path) const;
  void closeConnection(const std::string& server, const std::string& reason);
  void followReferral(const SharePath& path, Deadline deadline);
  template <class Operation>
  auto throughDfs(const SharePath& path, Deadline deadline, Operation operation);
  Request createRequest(const Tree& tree, const SharePath& path, CreateRequest create) const;
  // A listing whose first requests are sent, its answers not yet read.
  struct PendingListing {
    SharePath path;
    const Tree* share = nullptr;
    Connection* connection = nullptr;
    std::uint8_t infoClass = 0;
    Ticket ticket;
  };
  std::uint8_t listingClass(const std::string& server, Deadline deadline);
  PendingListing submitListing(const SharePath& path, std::uint8_t infoClass, Deadline deadline);
  // Its handle's close sent at once, or, with `closes`, left there to be
  // sent with the next flight.
  Listing finishListing(const PendingListing& pending, Deadline deadline,
                        std::vector<Request>* closes = nullptr);

  Connector connect_;
  SignIn signIn_;
  std::vector<std::uint16_t> dialects_;
  std::map<std::string, std::unique_ptr<Server>> servers_;
  // DFS paths learnt from referrals: "\\server\share[\path]" (lower case) to
  // its target.
  std::map<std::string, std::string> referrals_;
};

}  // namespace kestrine::smb
