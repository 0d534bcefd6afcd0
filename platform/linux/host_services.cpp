#include "platform/linux/host_services.h"

#include <cerrno>

#include "platform/grant/full_control_grant.h"
#include "platform/linux/smb/share_path.h"
#include "platform/linux/smb/smb_file_server.h"

namespace kestrine {

namespace {

// Linux reads slashes at the start of a path as one (the file list writes
// //users.csv for a file at the root), so only \\server\... names a
// network path to read from or write to.
bool isNetworkPath(const std::string& path) {
  return path.starts_with("\\\\");
}

}  // namespace

std::shared_ptr<FileServer> newFileServer(ConnectionSettings settings, NetworkWait* wait) {
  return std::make_shared<SmbFileServer>(settings, wait);
}

std::unique_ptr<TextStream> HostFileSystem::OpenTextFile(const std::string& path) {
  if (isNetworkPath(path)) {
    throw FileError(ENOTSUP, "reading a file from a network path is not supported; copy it here");
  }
  return local_.OpenTextFile(path);
}

bool HostFileSystem::FolderExists(const std::string& path) {
  if (!smb::isUncPath(path)) return local_.FolderExists(path);
  try {
    return server_->isFolder(path);
  } catch (const PlatformError&) {
    return false;  // a folder that cannot be reached is not there for us
  }
}

void HostFileSystem::WriteTextFile(const std::string& path, std::string_view text) {
  if (isNetworkPath(path)) {
    throw FileError(ENOTSUP,
                    "writing a file to a network path is not supported; choose a folder here");
  }
  local_.WriteTextFile(path, text);
}

void HostFileSystem::CreateFolder(const std::string& path) {
  if (!smb::isUncPath(path)) return local_.CreateFolder(path);
  if (!server_->createFolder(path, "")) {
    throw FileError(EEXIST, "create " + path + ": the name exists already");
  }
}

bool HostFileSystem::CreateFolderFor(const std::string& path, const std::string& accountSid) {
  if (!smb::isUncPath(path)) return local_.CreateFolderFor(path, accountSid);
  return server_->createFolder(path, accountSid);
}

std::shared_ptr<Shell> HostServiceObjects::createShell() {
  return std::make_shared<FullControlGrant>(server_);
}

std::shared_ptr<FileSystem> HostServiceObjects::createFileSystem() {
  return std::make_shared<HostFileSystem>(server_);
}

}  // namespace kestrine
