#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace kestrine::smb {

// NTSTATUS values a file server answers with ([MS-ERREF] 2.3.1).
enum NtStatus : std::uint32_t {
  STATUS_SUCCESS = 0x00000000,
  STATUS_PENDING = 0x00000103,
  STATUS_NO_MORE_FILES = 0x80000006,
  STATUS_BUFFER_OVERFLOW = 0x80000005,
  STATUS_INVALID_INFO_CLASS = 0xC0000003,
  STATUS_INVALID_PARAMETER = 0xC000000D,
  STATUS_NO_SUCH_FILE = 0xC000000F,
  STATUS_INVALID_DEVICE_REQUEST = 0xC0000010,
  STATUS_MORE_PROCESSING_REQUIRED = 0xC0000016,
  STATUS_ACCESS_DENIED = 0xC0000022,
  STATUS_BUFFER_TOO_SMALL = 0xC0000023,
  STATUS_OBJECT_NAME_INVALID = 0xC0000033,
  STATUS_OBJECT_NAME_NOT_FOUND = 0xC0000034,
  STATUS_OBJECT_NAME_COLLISION = 0xC0000035,
  STATUS_OBJECT_PATH_INVALID = 0xC0000039,
  STATUS_OBJECT_PATH_NOT_FOUND = 0xC000003A,
  STATUS_SHARING_VIOLATION = 0xC0000043,
  STATUS_DELETE_PENDING = 0xC0000056,
  STATUS_PRIVILEGE_NOT_HELD = 0xC0000061,
  STATUS_WRONG_PASSWORD = 0xC000006A,
  STATUS_LOGON_FAILURE = 0xC000006D,
  STATUS_ACCOUNT_RESTRICTION = 0xC000006E,
  STATUS_INVALID_LOGON_HOURS = 0xC000006F,
  STATUS_PASSWORD_EXPIRED = 0xC0000071,
  STATUS_ACCOUNT_DISABLED = 0xC0000072,
  STATUS_INSUFFICIENT_RESOURCES = 0xC000009A,
  STATUS_FILE_IS_A_DIRECTORY = 0xC00000BA,
  STATUS_NOT_SUPPORTED = 0xC00000BB,
  STATUS_NETWORK_NAME_DELETED = 0xC00000C9,
  STATUS_NETWORK_ACCESS_DENIED = 0xC00000CA,
  STATUS_BAD_NETWORK_NAME = 0xC00000CC,
  STATUS_REQUEST_NOT_ACCEPTED = 0xC00000D0,
  STATUS_NOT_A_DIRECTORY = 0xC0000103,
  STATUS_CANCELLED = 0xC0000120,
  STATUS_FILE_CLOSED = 0xC0000128,
  STATUS_INVALID_OWNER = 0xC000005A,
  STATUS_ACCOUNT_EXPIRED = 0xC0000193,
  STATUS_PASSWORD_MUST_CHANGE = 0xC0000224,
  STATUS_NOT_FOUND = 0xC0000225,
  STATUS_PATH_NOT_COVERED = 0xC0000257,
  STATUS_ACCOUNT_LOCKED_OUT = 0xC0000234,
  STATUS_NETWORK_SESSION_EXPIRED = 0xC000035C,
  STATUS_USER_SESSION_DELETED = 0xC0000203,
  STATUS_FS_DRIVER_REQUIRED = 0xC000019C,
  STATUS_STOPPED_ON_SYMLINK = 0x8000002D,
  STATUS_IO_REPARSE_TAG_NOT_HANDLED = 0xC0000279,
  STATUS_DFS_UNAVAILABLE = 0xC000026D,
};

// How a server's status reads to the administrator ([MS-ERREF] 2.3.1): a few
// in words ("access denied"), each with its name and number, the rest by
// number ("NTSTATUS 0xC0000143").
std::string describeStatus(std::uint32_t status);

// The errno that says the same, for the file server seam: EACCES, ENOENT,
// EEXIST, ENOTDIR, ENOTSUP, EBUSY, EINVAL; EIO for the rest.
int errnoForStatus(std::uint32_t status);

// NTSTATUS severity: an error is any value with both top bits set; warnings
// (0x8...) such as STATUS_NO_MORE_FILES are answers too.
inline bool isError(std::uint32_t status) {
  return (status & 0xC0000000) == 0xC0000000;
}

// The server answered a request with a status that fails it. This is an
// answer: the connection is fine and the same request would fail again.
class StatusError : public std::runtime_error {
 public:
  // `doing` says what was being done: "create \\fs1\home$\jdoe".
  StatusError(const std::string& doing, std::uint32_t status)
      : std::runtime_error(doing + ": " + describeStatus(status)), status_(status) {}
  std::uint32_t status() const { return status_; }

 private:
  std::uint32_t status_;
};

}  // namespace kestrine::smb
