#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/file_server.h"
#include "platform/file_system.h"
#include "platform/network_wait.h"
#include "platform/server_rules.h"
#include "platform/text/line_reader.h"

namespace kestrine {

// Text in a Windows code page turned into UTF-8, by default in the system's
// ANSI code page, strictly: a byte that does not map, or that maps to a C1
// control character as the bytes a code page leaves undefined do, is no
// character.
class Win32CodePageDecoder : public CodePageDecoder {
 public:
  Win32CodePageDecoder();
  explicit Win32CodePageDecoder(unsigned int codePage) : codePage_(codePage) {}
  std::string decode(std::string_view bytes, std::optional<BadByte>& bad) override;
  std::string name() const override;
  // The ANSI code page is the system's, for every program.
  std::string remedy() const override { return "save the file as UTF-8"; }

 private:
  unsigned int codePage_;
};

// The errno value for a Windows error code, for FileError::code(); EIO for
// those without a near one.
int errnoForWindowsError(unsigned long error);

// How a file call on a share that failed with this Windows error ended for
// the connection to its server: no answer in time (ETIMEDOUT), the
// connection lost on the way (ECONNRESET), or an answer of the server's.
Reply replyToWindowsError(unsigned long error);

// Files through the wide Win32 calls, local or \\server\share, and folders
// through the file server (by default the Win32 calls' own). Text files are
// read as UTF-16 or UTF-8 when they start with a byte-order mark, otherwise
// each line as UTF-8 or in the ANSI code page (LineReader); only disk files
// open. The calls that may wait on a file server run through the wait, if
// there is one.
class Win32FileSystem : public FileSystem {
 public:
  explicit Win32FileSystem(NetworkWait* wait = nullptr,
                           std::shared_ptr<FileServer> server = nullptr);

  std::unique_ptr<TextStream> OpenTextFile(const std::string& path) override;
  bool FolderExists(const std::string& path) override;
  void CreateFolder(const std::string& path) override;
  bool CreateFolderFor(const std::string& path, const std::string& accountSid) override {
    return server_->createFolder(path, accountSid);
  }
  void WriteTextFile(const std::string& path, std::string_view text) override;

 private:
  NetworkWait* wait_;
  std::shared_ptr<FileServer> server_;
};

}  // namespace kestrine
