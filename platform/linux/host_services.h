#pragma once

#include <memory>
#include <string>

#include "platform/linux/local_file_system.h"
#include "platform/linux/smb/smb_context.h"
#include "platform/service_objects.h"

namespace kestrine {

// Local paths on this machine's file system; \\server\share\... paths on the
// share over SMB.
class HostFileSystem : public FileSystem {
 public:
  explicit HostFileSystem(std::shared_ptr<SmbContext> smb) : smb_(std::move(smb)) {}

  std::unique_ptr<TextStream> OpenTextFile(const std::string& path) override;
  bool FolderExists(const std::string& path) override;
  void CreateFolder(const std::string& path) override;

 private:
  LocalFileSystem local_;
  std::shared_ptr<SmbContext> smb_;
};

// The platform objects of a run on this machine. The file system object and
// the shell share one SMB context, so a run signs in to a file server once.
// Without a wait, libsmbclient is called on the caller's thread.
class HostServiceObjects : public ServiceObjects {
 public:
  explicit HostServiceObjects(NetworkWait* wait = nullptr)
      : smb_(std::make_shared<SmbContext>(ConnectionSettings{}, wait)) {}

  std::shared_ptr<Shell> createShell() override;
  std::shared_ptr<FileSystem> createFileSystem() override;

 private:
  std::shared_ptr<SmbContext> smb_;
};

}  // namespace kestrine
