#include "platform/posix/local_file_system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

#include "platform/text_decoder.h"

namespace kestrine {

namespace {

constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";
constexpr std::size_t kBufferSize = std::size_t{64} * 1024;

[[noreturn]] void failWith(int error, const std::string& doing) {
  throw FileError(error, doing + ": " + std::strerror(error));
}

// Reads a file one line at a time through a fixed buffer, so that memory does
// not grow with the file.
class LocalTextStream : public TextStream {
 public:
  LocalTextStream(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  ~LocalTextStream() override { closeFile(); }

  bool AtEndOfStream() override {
    requireOpen();
    return position_ == filled_ && !fill();
  }

  std::string ReadLine() override {
    requireOpen();
    std::string bytes;
    for (bool consumed = false;; consumed = true) {
      if (position_ == filled_ && !fill()) {
        if (!consumed) failWith(ENODATA, "read past the end of " + path_);
        break;
      }
      const char* start = buffer_.data() + position_;
      const auto* newline = static_cast<const char*>(std::memchr(start, '\n', filled_ - position_));
      if (newline) {
        bytes.append(start, static_cast<std::size_t>(newline - start));
        position_ += static_cast<std::size_t>(newline - start) + 1;
        break;
      }
      bytes.append(start, filled_ - position_);
      position_ = filled_;
    }
    if (!bytes.empty() && bytes.back() == '\r') bytes.pop_back();
    if (firstLine_) {
      firstLine_ = false;
      // Spreadsheet programs start UTF-8 files with a byte-order mark.
      if (decoder_.isUtf8() &&
          bytes.compare(0, kUtf8ByteOrderMark.size(), kUtf8ByteOrderMark) == 0) {
        bytes.erase(0, kUtf8ByteOrderMark.size());
      }
    }
    return decoder_.decode(bytes);
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

  // Refills the buffer; false at the end of the file.
  bool fill() {
    ssize_t got;
    do {
      got = ::read(fd_, buffer_.data(), buffer_.size());
    } while (got < 0 && errno == EINTR);
    if (got < 0) failWith(errno, "read " + path_);
    position_ = 0;
    filled_ = static_cast<std::size_t>(got);
    return got > 0;
  }

  int fd_;
  std::string path_;
  TextDecoder decoder_;
  std::array<char, kBufferSize> buffer_{};
  std::size_t position_ = 0;
  std::size_t filled_ = 0;
  bool firstLine_ = true;
};

}  // namespace

std::unique_ptr<TextStream> LocalFileSystem::OpenTextFile(const std::string& path) {
  // The caller's step names the file; the error says why it cannot be read.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw FileError(errno, std::strerror(errno));
  struct stat info {};
  if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
    const int error = S_ISDIR(info.st_mode) ? EISDIR : errno;
    ::close(fd);
    throw FileError(error, std::strerror(error));
  }
  try {
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
