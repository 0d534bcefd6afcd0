#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/file_server.h"
#include "platform/file_system.h"
#include "platform/linux/smb/call_deadline.h"
#include "platform/linux/smb/unc_path.h"
#include "platform/server_rules.h"

struct _SMBCCTX;

namespace kestrine {

// One SMB client context for the whole run, set up at first use. It signs in
// with the caller's Kerberos ticket only, as its principal: no password
// prompt, no guest or anonymous fallback, and no server named by its address,
// which Kerberos cannot serve. It asks for encryption, which makes signing
// required too. Connections it opens to a server stay open for the next
// call, which is what makes one folder cost milliseconds rather than a login.
// Each file server is held to the rules of every server (ServerRules): a call
// waits at most the settings' timeout in all; one that found its connection
// dropped (a restart, an idle disconnect) is made once more on a new
// connection; one that got no answer is not, and that server's calls then
// fail at once for `retryAfter`. Every failure is a FileError with the errno
// and the path. Paths are \\server\share\...; any other is refused.
class SmbContext : public FileServer {
 public:
  // Without a wait, libsmbclient is called on the caller's thread.
  explicit SmbContext(ConnectionSettings settings = {}, NetworkWait* wait = nullptr);
  ~SmbContext() override;
  SmbContext(const SmbContext&) = delete;
  SmbContext& operator=(const SmbContext&) = delete;

  // One open of the folder answers and also reads what it holds, which the
  // grant that follows then needs from no further call; asked again right
  // after, it is answered from that.
  bool isFolder(const std::string& path) override;
  void createFolder(const std::string& path) override;
  bool createdJustNow(const std::string& folder) const override;
  Listing list(const std::string& folder) override;
  void setFullControl(const std::string& path, const std::string& accountSid, bool folder) override;

  // Any security descriptor, in libsmbclient's text form with numeric SIDs,
  // e.g. "REVISION:1,OWNER:S-1-5-32-544,ACL:S-1-5-32-544:0/3/2032127": for
  // tests that arrange and look at a share as a client of their own.
  std::string securityDescriptor(const UncPath& path);
  // Sets what the text names (revision, owner, group, access list); the
  // access list given replaces the whole existing one.
  void setSecurityDescriptor(const UncPath& path, const std::string& descriptor);

 private:
  struct Free {
    void operator()(_SMBCCTX* context) const;
  };

  _SMBCCTX* context();
  // Makes a call to the path's server under its rules, once more over new
  // connections when the first try lost its connection (or, for an access
  // list, the connection to reach it); the errno of the last try (0 for
  // success) unless only the first said why, and of the first one. Throws at
  // once while the server is held.
  template <class Request>
  int call(const char* doing, const UncPath& path, Request request, int* firstError = nullptr,
           bool accessList = false);
  bool folderByStat(const UncPath& path);
  Listing listFromServer(const UncPath& path);
  // Throws the failure with its reason, after `explained` when given.
  [[noreturn]] void fail(const char* doing, const UncPath& path, int error,
                         const char* explained = nullptr) const;

  ConnectionSettings settings_;
  NetworkWait* wait_;
  std::unique_ptr<_SMBCCTX, Free> context_;
  // By server name in lower case.
  std::map<std::string, ServerRules> servers_;
  CallDeadline deadline_;
  std::optional<UncPath> created_;
  // What isFolder read of a folder, until it is listed, another call is made
  // (but for setting the folder's access list, which changes no names) or
  // the folder is asked about a third time.
  struct Listed {
    UncPath path;
    Listing listing;
    bool askedAgain = false;
  };
  std::optional<Listed> listed_;
  std::optional<FileError> setupFailure_;
};

}  // namespace kestrine
