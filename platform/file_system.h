#pragma once

#include <memory>
#include <string>

#include "platform/platform_error.h"

namespace kestrine {

// A failure of a file operation. code() is the errno value.
class FileError : public PlatformError {
 public:
  using PlatformError::PlatformError;
};

// A text file open for reading, decoded from the system's code page to UTF-8.
class TextStream {
 public:
  virtual ~TextStream() = default;
  virtual bool AtEndOfStream() = 0;
  // The next line without its terminator (LF or CR LF).
  virtual std::string ReadLine() = 0;
  virtual void Close() = 0;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // Opens an existing file for reading; fails for a folder or a missing file.
  virtual std::unique_ptr<TextStream> OpenTextFile(const std::string& path) = 0;
};

// Creates the platform objects that a run keeps for its whole length.
class ServiceObjects {
 public:
  virtual ~ServiceObjects() = default;
  virtual std::shared_ptr<FileSystem> createFileSystem() = 0;
};

}  // namespace kestrine
