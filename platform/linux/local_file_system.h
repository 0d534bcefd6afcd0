#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/file_system.h"

namespace kestrine {

// Files on the local file system, read as text in the locale's character set,
// or as UTF-16 or UTF-8 when they start with a byte-order mark. Only regular
// files open for reading. Text is written as UTF-8 with a mark and LF line
// ends, in a file of mode 0600.
class LocalFileSystem : public FileSystem {
 public:
  std::unique_ptr<TextStream> OpenTextFile(const std::string& path) override;
  bool FolderExists(const std::string& path) override;
  void CreateFolder(const std::string& path) override;
  // A folder on this machine has no Windows access list to give it: refused.
  bool CreateFolderFor(const std::string& path, const std::string& accountSid) override;
  void WriteTextFile(const std::string& path, std::string_view text) override;
};

}  // namespace kestrine
