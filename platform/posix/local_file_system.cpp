#include "platform/posix/local_file_system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <optional>
#include <string_view>

#include "platform/text_decoder.h"

namespace kestrine {

namespace {

constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LeByteOrderMark = "\xFF\xFE";
constexpr std::string_view kUtf16BeByteOrderMark = "\xFE\xFF";
constexpr std::size_t kBufferSize = std::size_t{64} * 1024;

[[noreturn]] void failWith(int error, const std::string& doing) {
  throw FileError(error, doing + ": " + std::strerror(error));
}

// The caller's step names the file; the error says why it cannot be read.
[[noreturn]] void cannotOpen(int error) {
  throw FileError(error, std::strerror(error));
}

void requireRegularFile(const struct stat& info) {
  if (S_ISDIR(info.st_mode)) cannotOpen(EISDIR);
  if (!S_ISREG(info.st_mode)) throw FileError(EINVAL, "not a regular file");
}

// Reads a file one line at a time through a fixed buffer, so that memory does
// not grow with the file. A file in UTF-16 is turned into UTF-8 a buffer at a
// time, and its lines are split from that as those of any other file.
class LocalTextStream : public TextStream {
 public:
  LocalTextStream(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  ~LocalTextStream() override { closeFile(); }

  bool AtEndOfStream() override {
    requireOpen();
    return !available();
  }

  std::string ReadLine() override {
    requireOpen();
    if (!available()) failWith(ENODATA, "read past the end of " + path_);
    std::string line;
    bool tooLong = false;
    do {
      const char* start = text_ + position_;
      const char* end = text_ + filled_;
      const char* lineEnd = std::find_if(start, end, [](char c) { return c == '\n' || c == '\r'; });
      const auto length = static_cast<std::size_t>(lineEnd - start);
      position_ += length;
      if (!tooLong && line.size() + length > kMaxLineBytes) {
        tooLong = true;
        std::string().swap(line);  // the rest is passed over, not kept
      }
      if (!tooLong) line.append(start, length);
      if (lineEnd != end) {
        skipLineEnd();
        break;
      }
    } while (available());
    if (tooLong) throw LineTooLong();
    if (utf16_) return line;  // UTF-8 already
    return decoder_.decode(line);
  }

  void Close() override { closeFile(); }

 private:
  void closeFile() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

  void requireOpen() const {
    if (fd_ < 0) failWith(EBADF, "read " + path_ + " after it was closed");
  }

  // True when text is left to read, refilling the buffer when it is used up.
  bool available() { return position_ < filled_ || fill(); }

  // Passes over the line end at the position: LF, CR LF or a lone CR.
  void skipLineEnd() {
    const char terminator = text_[position_++];
    if (terminator == '\r' && available() && text_[position_] == '\n') ++position_;
  }

  // Refills the buffer with the file's next text; false at its end.
  bool fill() {
    for (;;) {
      const std::size_t got = readFile();
      std::string_view bytes(raw_.data(), got);
      if (!started_) {
        started_ = true;
        bytes.remove_prefix(takeByteOrderMark(bytes));
      }
      if (utf16_) {
        decoded_.clear();
        if (got > 0) {
          utf16_->decode(bytes, decoded_);
        } else {
          utf16_->finish(decoded_);
        }
        bytes = decoded_;
      }
      text_ = bytes.data();
      position_ = 0;
      filled_ = bytes.size();
      // A piece may hold no text: a byte-order mark alone, half a code unit.
      if (filled_ > 0 || got == 0) return filled_ > 0;
    }
  }

  // The length of the byte-order mark at the start of the file, which also
  // decides how the file is decoded.
  std::size_t takeByteOrderMark(std::string_view start) {
    // Windows editors write "Unicode" text as UTF-16 with a byte-order mark.
    if (start.starts_with(kUtf16LeByteOrderMark) || start.starts_with(kUtf16BeByteOrderMark)) {
      utf16_.emplace(start.starts_with(kUtf16BeByteOrderMark));
      return kUtf16LeByteOrderMark.size();
    }
    // Spreadsheet programs start UTF-8 files with a byte-order mark.
    if (decoder_.isUtf8() && start.starts_with(kUtf8ByteOrderMark)) {
      return kUtf8ByteOrderMark.size();
    }
    return 0;
  }

  // Reads the next piece of the file into raw_; 0 at its end.
  std::size_t readFile() {
    ssize_t got;
    do {
      got = ::read(fd_, raw_.data(), raw_.size());
    } while (got < 0 && errno == EINTR);
    if (got < 0) failWith(errno, "read " + path_);
    if (got == 0) requireNotTruncated();
    offset_ += got;
    return static_cast<std::size_t>(got);
  }

  // A file cut short under the run would otherwise just end early, its last
  // records missing without a word.
  void requireNotTruncated() {
    struct stat info {};
    if (::fstat(fd_, &info) != 0) failWith(errno, "read " + path_);
    if (info.st_size < offset_) {
      throw FileError(EIO, "read " + path_ + ": the file was truncated while it was read");
    }
  }

  int fd_;
  std::string path_;
  TextDecoder decoder_;
  std::optional<Utf16Decoder> utf16_;  // set when the file starts with a UTF-16 byte-order mark
  bool started_ = false;
  off_t offset_ = 0;  // bytes read from the file
  std::array<char, kBufferSize> raw_{};
  std::string decoded_;             // UTF-16 turned into UTF-8
  const char* text_ = raw_.data();  // raw_ or decoded_
  std::size_t position_ = 0;
  std::size_t filled_ = 0;
};

}  // namespace

std::unique_ptr<TextStream> LocalFileSystem::OpenTextFile(const std::string& path) {
  // Opening a FIFO waits for a writer and opening a device can act on it, so
  // the type is looked at before opening; the check after opening, and
  // O_NONBLOCK until then, cover a file swapped in between.
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) cannotOpen(errno);
  requireRegularFile(info);
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) cannotOpen(errno);
  try {
    if (::fstat(fd, &info) != 0) cannotOpen(errno);
    requireRegularFile(info);
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) cannotOpen(errno);
    return std::make_unique<LocalTextStream>(fd, path);
  } catch (...) {
    ::close(fd);
    throw;
  }
}

bool LocalFileSystem::FolderExists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

void LocalFileSystem::CreateFolder(const std::string& path) {
  if (::mkdir(path.c_str(), 0777) != 0) failWith(errno, "create " + path);
}

}  // namespace kestrine
