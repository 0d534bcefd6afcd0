#pragma once

#include <sys/stat.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "platform/smb/unc_path.h"

struct _SMBCCTX;

namespace kestrine {

// One SMB client context for the whole run, set up at first use. It signs in
// with the caller's Kerberos ticket only: no password prompt, no guest or
// anonymous fallback. Connections it opens to a server stay open for the next
// call, which is what makes one folder cost milliseconds rather than a login.
// Every failure is a FileError with the errno and the path.
class SmbContext {
 public:
  SmbContext();
  ~SmbContext();
  SmbContext(const SmbContext&) = delete;
  SmbContext& operator=(const SmbContext&) = delete;

  struct stat stat(const UncPath& path);
  void mkdir(const UncPath& path);
  // True when the last call of this context created this folder: it is
  // empty, and nothing need be asked about what lies in it.
  bool createdJustNow(const UncPath& path) const { return path.url() == created_; }

  struct Entry {
    std::string name;
    bool isFolder = false;
  };
  // The files and folders in a folder, without "." and "..".
  std::vector<Entry> list(const UncPath& path);

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

  std::unique_ptr<_SMBCCTX, Free> context_;
  std::string created_;
  std::optional<FileError> setupFailure_;
};

}  // namespace kestrine
