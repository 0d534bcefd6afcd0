#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "platform/file_server.h"
#include "platform/linux/local_file_system.h"
#include "platform/network_wait.h"
#include "platform/server_rules.h"
#include "platform/service_objects.h"

namespace kestrine {

// The client of the file servers that hold the home folders, for the run and
// for the tests that check it against a real server. Without a wait, its
// library is called on the caller's thread.
std::shared_ptr<FileServer> newFileServer(ConnectionSettings settings = {},
                                          NetworkWait* wait = nullptr);

// Local paths on this machine's file system; \\server\share\... paths on the
// file server.
class HostFileSystem : public FileSystem {
 public:
  explicit HostFileSystem(std::shared_ptr<FileServer> server) : server_(std::move(server)) {}

  std::unique_ptr<TextStream> OpenTextFile(const std::string& path) override;
  bool FolderExists(const std::string& path) override;
  void CreateFolder(const std::string& path) override;
  bool CreateFolderFor(const std::string& path, const std::string& accountSid) override;
  void WriteTextFile(const std::string& path, std::string_view text) override;

 private:
  LocalFileSystem local_;
  std::shared_ptr<FileServer> server_;
};

// The platform objects of a run on this machine. The file system object and
// the shell share one file server client, so a run signs in to a file server
// once.
class HostServiceObjects : public ServiceObjects {
 public:
  explicit HostServiceObjects(NetworkWait* wait = nullptr) : server_(newFileServer({}, wait)) {}
  // With other settings than the program's: for tests.
  explicit HostServiceObjects(ConnectionSettings settings, NetworkWait* wait = nullptr)
      : server_(newFileServer(settings, wait)) {}

  std::shared_ptr<Shell> createShell() override;
  std::shared_ptr<FileSystem> createFileSystem() override;

 private:
  std::shared_ptr<FileServer> server_;
};

}  // namespace kestrine
