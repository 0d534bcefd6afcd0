#pragma once

#include <memory>
#include <string>

#include "platform/file_system.h"
#include "platform/win32/cacls_shell.h"
#include "platform/win32/win32_file_system.h"

namespace kestrine {

// The platform objects of a run on Windows: files through the Win32 calls
// (local or \\server\share), permissions granted by cacls. Without a wait,
// the file calls are made on the caller's thread.
class Win32ServiceObjects : public ServiceObjects {
 public:
  explicit Win32ServiceObjects(NetworkWait* wait = nullptr) : wait_(wait) {}

  std::shared_ptr<Shell> createShell() override {
    return std::make_shared<CaclsShell>(administrators_);
  }
  std::shared_ptr<FileSystem> createFileSystem() override {
    return std::make_shared<Win32FileSystem>(wait_);
  }

 private:
  NetworkWait* wait_;
  // Looked up once per run: the group's local name does not change meanwhile.
  std::string administrators_ = administratorsGroupName();
};

}  // namespace kestrine
