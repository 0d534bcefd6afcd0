#pragma once

#include <cerrno>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "platform/platform_error.h"
#include "platform/text/wipe.h"

namespace kestrine {

// A failure of a file operation. code() is the errno value.
class FileError : public PlatformError {
 public:
  using PlatformError::PlatformError;
};

// The longest line a text stream hands out; a CSV line of a user is a few
// hundred bytes, and a file without line ends must not fill the memory.
inline constexpr std::size_t kMaxLineBytes = std::size_t{1} << 20;

// A line longer than kMaxLineBytes. The stream has gone on past its line end,
// so the next ReadLine returns the line after it.
class LineTooLong : public FileError {
 public:
  LineTooLong() : FileError(EFBIG, "longer than 1 MiB") {}
};

// A line that holds bytes that are no text in the file's character set: a
// file saved in another one. The stream has gone on past its line end. The
// line is not handed out as text; what() says which byte and what to do.
class NotText : public FileError {
 public:
  // `shown` is the line with U+FFFD for each byte that is no text, the first
  // of them at `offset`.
  NotText(std::string shown, std::size_t offset, const std::string& reason)
      : FileError(EILSEQ, reason), shown_(std::move(shown)), offset_(offset) {}
  NotText(const NotText&) = default;
  NotText& operator=(const NotText&) = delete;
  ~NotText() override { wipe(shown_); }

  // For the messages that tell about the line, never for the directory. It
  // may hold a password: it is wiped when the error goes.
  std::string& shown() { return shown_; }
  std::size_t offset() const { return offset_; }

 private:
  std::string shown_;
  std::size_t offset_;
};

// A text file open for reading, decoded to UTF-8: from UTF-16 or UTF-8 when
// the file starts with that byte-order mark; otherwise each line that is
// UTF-8 and not plain ASCII as UTF-8, and the others from the system's code
// page.
class TextStream {
 public:
  virtual ~TextStream() = default;
  virtual bool AtEndOfStream() = 0;
  // The next line without its terminator (LF, CR LF or a lone CR). Throws
  // LineTooLong for an overlong line, NotText for a line that is no text,
  // FileError when reading fails.
  virtual std::string ReadLine() = 0;
  virtual void Close() = 0;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // Opens an existing regular file for reading; fails for anything else (a
  // folder, a FIFO, a device, a missing file) without waiting on it.
  virtual std::unique_ptr<TextStream> OpenTextFile(const std::string& path) = 0;
  // True when a folder exists at the path; false when there is none or it
  // cannot be reached.
  virtual bool FolderExists(const std::string& path) = 0;
  // Creates the last element of the path only, never a parent or a share;
  // fails when the folder exists, its parent cannot be reached, or access is
  // denied.
  virtual void CreateFolder(const std::string& path) = 0;
  // As CreateFolder, with full control for BUILTIN\Administrators and the
  // account (its SID) as the folder's protected access list from the start,
  // in the same request. False, and nothing changed, when something of that
  // name is there already.
  virtual bool CreateFolderFor(const std::string& path, const std::string& accountSid) = 0;
  // Replaces the file at the path, or creates it, with the text: UTF-8 with a
  // byte-order mark, each "\n" written as this platform's line end. It holds
  // passwords: on Linux only its owner may read it, from the moment it
  // exists. The file is whole or not there: an earlier one stays as it was
  // when writing fails. A link at the path is replaced, never followed.
  virtual void WriteTextFile(const std::string& path, std::string_view text) = 0;
};

}  // namespace kestrine
