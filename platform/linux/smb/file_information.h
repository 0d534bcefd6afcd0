#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/linux/smb/wire.h"

// The file and directory information classes this client reads ([MS-FSCC]
// 2.4), from the output buffer of QUERY_DIRECTORY or QUERY_INFO.
namespace kestrine::smb {

// FileInformationClass values ([MS-FSCC] 2.4).
inline constexpr std::uint8_t FileInternalInformation = 6;
inline constexpr std::uint8_t FileAttributeTagInformation = 35;
inline constexpr std::uint8_t FileIdBothDirectoryInformation = 37;
inline constexpr std::uint8_t FileIdFullDirectoryInformation = 38;
inline constexpr std::uint8_t FileIdExtdDirectoryInformation = 60;

// [MS-FSCC] 2.1.2.1: a reparse tag whose bit 29 is set names another object
// (a junction, a symbolic link, a mount point): opening through it reaches
// something else.
inline bool isNameSurrogate(std::uint32_t reparseTag) {
  return (reparseTag & 0x20000000) != 0;
}

struct DirectoryEntry {
  std::string name;
  std::uint32_t fileAttributes = 0;
  std::uint32_t reparseTag = 0;  // 0 unless FILE_ATTRIBUTE_REPARSE_POINT
  // The server's file ID; 0 when it is unknown or does not fit 64 bits.
  std::uint64_t fileId = 0;
};

// The entries of one QUERY_DIRECTORY output buffer of one of the classes
// FileIdBothDirectoryInformation, FileIdFullDirectoryInformation and
// FileIdExtdDirectoryInformation, "." and ".." among them, in the server's
// order.
std::vector<DirectoryEntry> decodeDirectoryInformation(std::uint8_t fileInformationClass,
                                                       ByteView buffer);

// [MS-FSCC] 2.4.22: IndexNumber, the file ID.
std::uint64_t decodeFileInternalInformation(ByteView buffer);

// [MS-FSCC] 2.4.6.
struct AttributeTag {
  std::uint32_t fileAttributes = 0;
  std::uint32_t reparseTag = 0;
};
AttributeTag decodeFileAttributeTagInformation(ByteView buffer);

}  // namespace kestrine::smb
