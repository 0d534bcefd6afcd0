#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/file_system.h"
#include "platform/line_reader.h"
#include "platform/network_wait.h"

namespace kestrine {

// Text in a Windows code page turned into UTF-8, by default in the system's
// ANSI code page. Bytes that do not map become U+FFFD.
class Win32CodePageDecoder : public CodePageDecoder {
 public:
  Win32CodePageDecoder();
  explicit Win32CodePageDecoder(unsigned int codePage) : codePage_(codePage) {}
  std::string decode(std::string_view bytes) override;

 private:
  unsigned int codePage_;
};

// The errno value for a Windows error code, for FileError::code(); EIO for
// those without a near one.
int errnoForWindowsError(unsigned long error);

// Files and folders through the wide Win32 calls, local or \\server\share.
// Text files are read as UTF-16 or UTF-8 when they start with a byte-order
// mark, otherwise in the ANSI code page; only disk files open. The calls that
// may wait on a file server run through the wait, if there is one.
class Win32FileSystem : public FileSystem {
 public:
  explicit Win32FileSystem(NetworkWait* wait = nullptr) : wait_(wait) {}

  std::unique_ptr<TextStream> OpenTextFile(const std::string& path) override;
  bool FolderExists(const std::string& path) override;
  void CreateFolder(const std::string& path) override;

 private:
  NetworkWait* wait_;
};

}  // namespace kestrine
