#pragma once

#include <memory>

#include "platform/grant/full_control_grant.h"
#include "platform/service_objects.h"
#include "platform/win32/win32_file_server.h"
#include "platform/win32/win32_file_system.h"

namespace kestrine {

// The platform objects of a run on Windows: files through the Win32 calls
// (local or \\server\share), permissions granted in-process by the account's
// SID through the security calls, with no program started. The file system
// and the shell share one file server, so the grant knows a folder just
// created. Without a wait, the file calls are made on the caller's thread.
class Win32ServiceObjects : public ServiceObjects {
 public:
  explicit Win32ServiceObjects(NetworkWait* wait = nullptr)
      : server_(std::make_shared<Win32FileServer>(wait)),
        files_(std::make_shared<Win32FileSystem>(wait, server_)) {}

  std::shared_ptr<Shell> createShell() override {
    return std::make_shared<FullControlGrant>(server_);
  }
  std::shared_ptr<FileSystem> createFileSystem() override { return files_; }

 private:
  std::shared_ptr<Win32FileServer> server_;
  std::shared_ptr<Win32FileSystem> files_;
};

}  // namespace kestrine
