#include "platform/linux/smb/ntstatus.h"

#include <cerrno>
#include <cstdio>

namespace kestrine::smb {
namespace {

struct Known {
  std::uint32_t status;
  const char* name;
  const char* words;  // nullptr: the name says enough
};

// [MS-ERREF] 2.3.1.
constexpr Known kKnown[] = {
    {STATUS_ACCESS_DENIED, "STATUS_ACCESS_DENIED", "access denied"},
    {STATUS_NETWORK_ACCESS_DENIED, "STATUS_NETWORK_ACCESS_DENIED", "access denied"},
    {STATUS_PRIVILEGE_NOT_HELD, "STATUS_PRIVILEGE_NOT_HELD", "access denied"},
    {STATUS_BAD_NETWORK_NAME, "STATUS_BAD_NETWORK_NAME", "no such share"},
    {STATUS_OBJECT_PATH_NOT_FOUND, "STATUS_OBJECT_PATH_NOT_FOUND",
     "the path's parent folder is missing"},
    {STATUS_OBJECT_NAME_NOT_FOUND, "STATUS_OBJECT_NAME_NOT_FOUND", "no such file or folder"},
    {STATUS_NO_SUCH_FILE, "STATUS_NO_SUCH_FILE", "no such file or folder"},
    {STATUS_OBJECT_NAME_COLLISION, "STATUS_OBJECT_NAME_COLLISION", "the name exists already"},
    {STATUS_OBJECT_NAME_INVALID, "STATUS_OBJECT_NAME_INVALID",
     "a name the file server does not accept"},
    {STATUS_OBJECT_PATH_INVALID, "STATUS_OBJECT_PATH_INVALID",
     "a path the file server does not accept"},
    {STATUS_LOGON_FAILURE, "STATUS_LOGON_FAILURE", "logon refused"},
    {STATUS_WRONG_PASSWORD, "STATUS_WRONG_PASSWORD", "logon refused"},
    {STATUS_ACCOUNT_RESTRICTION, "STATUS_ACCOUNT_RESTRICTION", "logon refused"},
    {STATUS_INVALID_LOGON_HOURS, "STATUS_INVALID_LOGON_HOURS", "logon refused"},
    {STATUS_PASSWORD_EXPIRED, "STATUS_PASSWORD_EXPIRED", "logon refused: the password has expired"},
    {STATUS_PASSWORD_MUST_CHANGE, "STATUS_PASSWORD_MUST_CHANGE",
     "logon refused: the password must be changed"},
    {STATUS_ACCOUNT_DISABLED, "STATUS_ACCOUNT_DISABLED", "logon refused: the account is disabled"},
    {STATUS_ACCOUNT_EXPIRED, "STATUS_ACCOUNT_EXPIRED", "logon refused: the account has expired"},
    {STATUS_ACCOUNT_LOCKED_OUT, "STATUS_ACCOUNT_LOCKED_OUT",
     "logon refused: the account is locked out"},
    {STATUS_NOT_SUPPORTED, "STATUS_NOT_SUPPORTED", "not supported"},
    {STATUS_INVALID_DEVICE_REQUEST, "STATUS_INVALID_DEVICE_REQUEST", "not supported"},
    {STATUS_INVALID_INFO_CLASS, "STATUS_INVALID_INFO_CLASS", "not supported"},
    {STATUS_SHARING_VIOLATION, "STATUS_SHARING_VIOLATION", "in use by another program"},
    {STATUS_DELETE_PENDING, "STATUS_DELETE_PENDING", "being deleted"},
    {STATUS_NOT_A_DIRECTORY, "STATUS_NOT_A_DIRECTORY", "not a folder"},
    {STATUS_FILE_IS_A_DIRECTORY, "STATUS_FILE_IS_A_DIRECTORY", "a folder, not a file"},
    {STATUS_INVALID_OWNER, "STATUS_INVALID_OWNER", "that owner cannot be set"},
    {STATUS_PATH_NOT_COVERED, "STATUS_PATH_NOT_COVERED", "the path lies in another DFS target"},
    {STATUS_DFS_UNAVAILABLE, "STATUS_DFS_UNAVAILABLE", "DFS is not available"},
    {STATUS_NETWORK_NAME_DELETED, "STATUS_NETWORK_NAME_DELETED", "the share was disconnected"},
    {STATUS_USER_SESSION_DELETED, "STATUS_USER_SESSION_DELETED",
     "the session was ended by the server"},
    {STATUS_NETWORK_SESSION_EXPIRED, "STATUS_NETWORK_SESSION_EXPIRED", "the session has expired"},
    {STATUS_INSUFFICIENT_RESOURCES, "STATUS_INSUFFICIENT_RESOURCES",
     "the server is out of resources"},
    {STATUS_REQUEST_NOT_ACCEPTED, "STATUS_REQUEST_NOT_ACCEPTED",
     "the server accepts no more connections"},
    {STATUS_INVALID_PARAMETER, "STATUS_INVALID_PARAMETER", "the server refused a parameter"},
    {STATUS_BUFFER_TOO_SMALL, "STATUS_BUFFER_TOO_SMALL", nullptr},
    {STATUS_BUFFER_OVERFLOW, "STATUS_BUFFER_OVERFLOW", nullptr},
    {STATUS_NO_MORE_FILES, "STATUS_NO_MORE_FILES", nullptr},
    {STATUS_NOT_FOUND, "STATUS_NOT_FOUND", "not found"},
    {STATUS_STOPPED_ON_SYMLINK, "STATUS_STOPPED_ON_SYMLINK", "a symbolic link"},
    {STATUS_IO_REPARSE_TAG_NOT_HANDLED, "STATUS_IO_REPARSE_TAG_NOT_HANDLED",
     "a reparse point the server cannot follow"},
    {STATUS_FS_DRIVER_REQUIRED, "STATUS_FS_DRIVER_REQUIRED",
     "a reparse point the server cannot follow"},
    {STATUS_FILE_CLOSED, "STATUS_FILE_CLOSED", nullptr},
    {STATUS_CANCELLED, "STATUS_CANCELLED", nullptr},
    {STATUS_MORE_PROCESSING_REQUIRED, "STATUS_MORE_PROCESSING_REQUIRED", nullptr},
    {STATUS_PENDING, "STATUS_PENDING", nullptr},
    {STATUS_SUCCESS, "STATUS_SUCCESS", nullptr},
};

}  // namespace

std::string describeStatus(std::uint32_t status) {
  char number[16];
  std::snprintf(number, sizeof number, "0x%08X", status);
  for (const Known& known : kKnown) {
    if (known.status != status) continue;
    if (known.words == nullptr) return std::string(known.name) + " (" + number + ")";
    return std::string(known.words) + " (" + known.name + ", " + number + ")";
  }
  return std::string("NTSTATUS ") + number;
}

int errnoForStatus(std::uint32_t status) {
  switch (status) {
    case STATUS_ACCESS_DENIED:
    case STATUS_NETWORK_ACCESS_DENIED:
    case STATUS_PRIVILEGE_NOT_HELD:
    case STATUS_LOGON_FAILURE:
    case STATUS_WRONG_PASSWORD:
    case STATUS_ACCOUNT_RESTRICTION:
    case STATUS_INVALID_LOGON_HOURS:
    case STATUS_PASSWORD_EXPIRED:
    case STATUS_PASSWORD_MUST_CHANGE:
    case STATUS_ACCOUNT_DISABLED:
    case STATUS_ACCOUNT_EXPIRED:
    case STATUS_ACCOUNT_LOCKED_OUT:
      return EACCES;
    case STATUS_OBJECT_NAME_NOT_FOUND:
    case STATUS_NO_SUCH_FILE:
    case STATUS_OBJECT_PATH_NOT_FOUND:
    case STATUS_BAD_NETWORK_NAME:
    case STATUS_DELETE_PENDING:
      return ENOENT;
    case STATUS_OBJECT_NAME_COLLISION:
      return EEXIST;
    case STATUS_NOT_A_DIRECTORY:
      return ENOTDIR;
    case STATUS_NOT_SUPPORTED:
    case STATUS_INVALID_DEVICE_REQUEST:
    case STATUS_INVALID_INFO_CLASS:
      return ENOTSUP;
    case STATUS_SHARING_VIOLATION:
      return EBUSY;
    case STATUS_OBJECT_NAME_INVALID:
    case STATUS_OBJECT_PATH_INVALID:
    case STATUS_INVALID_OWNER:
      return EINVAL;
    default:
      return EIO;
  }
}

}  // namespace kestrine::smb
