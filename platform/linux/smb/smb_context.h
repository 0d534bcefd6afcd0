#pragma once

#include <sys/stat.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "platform/file_system.h"
#include "platform/linux/smb/unc_path.h"
#include "platform/share_access.h"

struct _SMBCCTX;

namespace kestrine {

// How long a file server may take to accept a connection or answer a call.
inline constexpr std::chrono::milliseconds kFileServerTimeout{30'000};

// One SMB client context for the whole run, set up at first use. It signs in
// with the caller's Kerberos ticket only: no password prompt, no guest or
// anonymous fallback. Connections it opens to a server stay open for the next
// call, which is what makes one folder cost milliseconds rather than a login.
// A connection the server dropped (a restart, an idle disconnect) is opened
// afresh. Every failure is a FileError with the errno and the path.
class SmbContext {
 public:
  explicit SmbContext(std::chrono::milliseconds timeout = kFileServerTimeout);
  ~SmbContext();
  SmbContext(const SmbContext&) = delete;
  SmbContext& operator=(const SmbContext&) = delete;

  struct stat stat(const UncPath& path);
  void mkdir(const UncPath& path);
  // True when the last call of this context created this folder: it is
  // empty, and nothing need be asked about what lies in it.
  bool createdJustNow(const UncPath& path) const { return created_ == path; }

  // The files and folders in a folder, with the server's file IDs and which
  // entries are reparse points.
  ShareAccess::Listing list(const UncPath& path);

  // The security descriptor in libsmbclient's text form with numeric SIDs,
  // e.g. "REVISION:1,OWNER:S-1-5-32-544,ACL:S-1-5-32-544:0/3/2032127".
  std::string securityDescriptor(const UncPath& path);
  // Sets what the text names (revision, owner, group, access list); the
  // access list given replaces the whole existing one.
  void setSecurityDescriptor(const UncPath& path, const std::string& descriptor);

 private:
  struct Free {
    void operator()(_SMBCCTX* context) const;
  };

  _SMBCCTX* context();
  template <class Call>
  int once(Call call);
  template <class Call>
  int repeatable(Call call);
  [[noreturn]] void fail(const char* doing, const UncPath& path, int error) const;

  std::chrono::milliseconds timeout_;
  std::unique_ptr<_SMBCCTX, Free> context_;
  std::optional<UncPath> created_;
  std::optional<FileError> setupFailure_;
};

}  // namespace kestrine
