#include "platform/linux/host_services.h"

#include <cerrno>

#include "platform/grant/full_control_grant.h"
#include "platform/linux/smb/smb_permissions.h"
#include "platform/linux/smb/unc_path.h"

namespace kestrine {

namespace {

// Linux reads slashes at the start of a path as one (the file list writes
// //users.csv for a file at the root), so only \\server\... names a
// network path to read from.
bool isNetworkPathToRead(const std::string& path) {
  return path.starts_with("\\\\");
}

}  // namespace

std::unique_ptr<TextStream> HostFileSystem::OpenTextFile(const std::string& path) {
  if (isNetworkPathToRead(path)) {
    throw FileError(ENOTSUP, "reading a file from a network path is not supported; copy it here");
  }
  return local_.OpenTextFile(path);
}

bool HostFileSystem::FolderExists(const std::string& path) {
  if (!isUncPath(path)) return local_.FolderExists(path);
  const auto unc = parseUncPath(path);
  if (!unc) return false;
  try {
    return smb_->isFolder(*unc);
  } catch (const FileError&) {
    return false;  // a folder that cannot be reached is not there for us
  }
}

void HostFileSystem::CreateFolder(const std::string& path) {
  if (!isUncPath(path)) return local_.CreateFolder(path);
  const auto unc = parseUncPath(path);
  if (!unc || unc->folders.empty()) {
    throw FileError(EINVAL, "create " + path + ": not a folder path \\\\server\\share\\folder");
  }
  smb_->mkdir(*unc);
}

std::shared_ptr<Shell> HostServiceObjects::createShell() {
  return std::make_shared<FullControlGrant>(std::make_shared<SmbShareAccess>(smb_));
}

std::shared_ptr<FileSystem> HostServiceObjects::createFileSystem() {
  return std::make_shared<HostFileSystem>(smb_);
}

}  // namespace kestrine
