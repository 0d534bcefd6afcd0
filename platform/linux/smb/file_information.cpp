#include "platform/linux/smb/file_information.h"

#include "platform/linux/smb/messages.h"

namespace kestrine::smb {
namespace {

struct Layout {
  std::size_t fixedSize;   // up to FileName
  std::size_t eaSize;      // offset of EaSize
  std::size_t reparseTag;  // offset of ReparsePointTag, 0 when the class has none
  std::size_t fileId;      // offset of FileId
  std::size_t fileIdSize;  // 8, or 16 for FILE_ID_128
};

// [MS-FSCC] 2.4.18 (FileIdBothDirectoryInformation), 2.4.19
// (FileIdFullDirectoryInformation), 2.4.20 (FileIdExtdDirectoryInformation).
// Every class starts NextEntryOffset, FileIndex, the four times, EndOfFile,
// AllocationSize, FileAttributes (at 56), FileNameLength (at 60), EaSize (at
// 64).
Layout layoutOf(std::uint8_t fileInformationClass) {
  switch (fileInformationClass) {
    case FileIdBothDirectoryInformation:
      return {104, 64, 0, 96, 8};
    case FileIdFullDirectoryInformation:
      return {80, 64, 0, 72, 8};
    case FileIdExtdDirectoryInformation:
      return {88, 64, 68, 72, 16};
    default:
      throw std::invalid_argument("a directory information class this client does not read");
  }
}

}  // namespace

std::vector<DirectoryEntry> decodeDirectoryInformation(std::uint8_t fileInformationClass,
                                                       ByteView buffer) {
  const Layout layout = layoutOf(fileInformationClass);
  const WireReader in(buffer, "the QUERY_DIRECTORY output");
  std::vector<DirectoryEntry> entries;
  std::size_t offset = 0;
  while (offset < in.size()) {
    const std::uint32_t next = in.u32(offset);
    const std::size_t length = next != 0 ? next : in.size() - offset;
    const WireReader entry = in.sub(offset, length);
    if (length < layout.fixedSize) entry.fail("an entry shorter than its fixed part");
    DirectoryEntry out;
    out.fileAttributes = entry.u32(56);
    out.name = entry.utf16(layout.fixedSize, entry.u32(60));
    if (out.fileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
      // [MS-FSCC] 2.4.18: EaSize holds the reparse tag of a reparse point.
      out.reparseTag = entry.u32(layout.reparseTag != 0 ? layout.reparseTag : layout.eaSize);
    }
    out.fileId = entry.u64(layout.fileId);
    if (layout.fileIdSize == 16 && entry.u64(layout.fileId + 8) != 0) out.fileId = 0;
    if (out.name.empty()) entry.fail("an entry without a name");
    entries.push_back(std::move(out));
    if (next == 0) break;
    if (next % 8 != 0) entry.fail("NextEntryOffset is not a multiple of 8");
    offset += next;
  }
  return entries;
}

std::uint64_t decodeFileInternalInformation(ByteView buffer) {
  const WireReader in(buffer, "FileInternalInformation");
  if (in.size() != 8) in.fail("not 8 bytes");
  return in.u64(0);
}

AttributeTag decodeFileAttributeTagInformation(ByteView buffer) {
  const WireReader in(buffer, "FileAttributeTagInformation");
  if (in.size() != 8) in.fail("not 8 bytes");
  return AttributeTag{in.u32(0), in.u32(4)};
}

}  // namespace kestrine::smb
