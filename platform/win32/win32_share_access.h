#pragma once

#include <memory>
#include <string>
#include <utility>

#include "platform/share_access.h"
#include "platform/win32/win32_file_system.h"

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
// without OICI for a file. A SID that is not one in its standard form is
// refused (a PlatformError), so that no text can add an entry.
LocalMemory fullControlDescriptor(const std::string& accountSid, bool folder);

// The folders below a home folder through the Win32 file and security calls,
// on a share (\\server\share\...) or a local disk (C:\...). Every file and
// folder is opened as itself (FILE_FLAG_OPEN_REPARSE_POINT), never as what a
// junction or link points at, and by its extended-length name, so that deep
// trees and names are taken as they are. Failures are PlatformErrors with the
// Windows error code.
class Win32ShareAccess : public ShareAccess {
 public:
  explicit Win32ShareAccess(std::shared_ptr<Win32FileSystem> files) : files_(std::move(files)) {}

  bool createdJustNow(const std::string& folder) const override {
    return files_->createdJustNow(folder);
  }
  Listing list(const std::string& folder) override;
  void grantFullControl(const std::string& path, const std::string& accountSid,
                        bool folder) override;

 private:
  std::shared_ptr<Win32FileSystem> files_;
};

}  // namespace kestrine
