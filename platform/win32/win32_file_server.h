#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/file_server.h"
#include "platform/network_wait.h"
#include "platform/server_rules.h"
#include "platform/win32/io_deadline.h"

namespace kestrine {

// What LocalAlloc made (a security descriptor, a SID, a text), freed once.
struct LocalFreer {
  void operator()(void* memory) const;
};
using LocalMemory = std::unique_ptr<void, LocalFreer>;

// The protected access list a home folder (or a file below it) gets: full
// control for BUILTIN\Administrators and for the account, inherited by
// folders and files below a folder, and nothing else. Built from SDDL,
// "D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;S-1-5-21-...)" for a folder and the same
// without OICI for a file; with `administratorsOwn`, "O:BA" before it. A SID
// that is not one in its standard form is refused (a PlatformError), so that
// no text can add an entry.
LocalMemory fullControlDescriptor(const std::string& accountSid, bool folder,
                                  bool administratorsOwn = false);

// Folders on a share (\\server\share\...) or a local disk (C:\...) through
// the Win32 file and security calls, with the caller's logon. Every file and
// folder below a home folder is opened as itself (FILE_FLAG_OPEN_REPARSE_POINT),
// never as what a junction or link points at, and by its extended-length name,
// so that deep trees and names are taken as they are. Looking for and
// creating a folder fail with a FileError (an errno); listing and setting an
// access list with a PlatformError with the Windows error code. The calls
// that may wait on a file server run through the wait, if there is one.
//
// Each \\server is held to the rules of every server (ServerRules): a call
// waits at most the settings' timeout in all (its I/O is cancelled at the
// deadline); one whose connection was lost on the way is made once more;
// one that got no answer is not, and that server's calls then fail at once
// for `retryAfter`, as they do when the server could not be reached at all.
class Win32FileServer : public FileServer {
 public:
  explicit Win32FileServer(NetworkWait* wait = nullptr, ConnectionSettings settings = {})
      : wait_(wait), settings_(settings) {}

  bool isFolder(const std::string& path) override;
  // CreateDirectoryW, with the protected access list for the account in its
  // SECURITY_ATTRIBUTES when given: one call.
  bool createFolder(const std::string& path, const std::string& accountSid) override;
  // True when the last folder created is this one and nothing else was
  // looked for or created since: it is empty.
  bool createdJustNow(const std::string& folder) const override {
    return created_ && created_->path == folder;
  }
  bool createdGrantingTo(const std::string& folder, const std::string& accountSid) const override {
    return !accountSid.empty() && createdJustNow(folder) && created_->accountSid == accountSid;
  }
  Listing list(const std::string& folder) override;
  std::vector<std::string> grantees(const std::string& path) override;
  // The security descriptor is set on the object's own handle, checked
  // first (requireListedObject), with a call that does not pass anything on
  // to what lies below.
  void setFullControl(const std::string& path, const FullControl& grant) override;

 private:
  struct Server {
    ServerRules rules;
    unsigned long heldError = 0;  // why its calls fail at once while it is held
    std::string heldWhy;
  };

  // Makes a file call, `attempt` returning its Windows error (0 for
  // success), under the rules of the path's server (none for a local path)
  // and within the timeout; returns the last try's error, and the first's in
  // `firstError`. Throws at once while the server is held, with a FileError
  // when `asErrno`. A `write` is awaited as long as the server's rules let a
  // write wait (ServerRules::writeWait).
  unsigned long call(const std::string& path, const std::string& doing, bool asErrno,
                     const std::function<unsigned long()>& attempt,
                     unsigned long* firstError = nullptr, bool write = false);
  [[noreturn]] void fail(unsigned long error, const std::string& doing, bool asErrno) const;

  NetworkWait* wait_;
  ConnectionSettings settings_;
  std::map<std::string, Server> servers_;  // by name in lower case
  IoDeadline deadline_;
  struct Created {
    std::string path;
    std::string accountSid;
  };
  std::optional<Created> created_;
  // Whether the last call's server has been given up (ServerRules::held()).
  bool givenUp_ = false;
  // How long the last call waited before its deadline.
  std::chrono::seconds waited_{};
};

}  // namespace kestrine
