#include "platform/linux/local_file_system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/linux/text_decoder.h"
#include "platform/text/line_reader.h"

namespace kestrine {

namespace {

[[noreturn]] void failWith(int error, const std::string& doing) {
  throw FileError(error, doing + ": " + std::strerror(error));
}

// The caller's step names the file; the error says why it cannot be read or
// written.
[[noreturn]] void failWithReason(int error) {
  throw FileError(error, std::strerror(error));
}

void requireRegularFile(const struct stat& info) {
  if (S_ISDIR(info.st_mode)) failWithReason(EISDIR);
  if (!S_ISREG(info.st_mode)) throw FileError(EINVAL, "not a regular file");
}

// A path holding a NUL byte would be cut short there by the system call and
// name another file or folder.
void requireWholePath(const std::string& path) {
  if (path.find('\0') != std::string::npos) throw FileError(EINVAL, "the path holds a NUL byte");
}

// The bytes of an open regular file.
class FileSource : public ByteSource {
 public:
  FileSource(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  ~FileSource() override { ::close(fd_); }
  FileSource(const FileSource&) = delete;
  FileSource& operator=(const FileSource&) = delete;

  std::size_t read(char* buffer, std::size_t size) override {
    ssize_t got;
    do {
      got = ::read(fd_, buffer, size);
    } while (got < 0 && errno == EINTR);
    if (got < 0) failWith(errno, "read " + path_);
    if (got == 0) requireNotTruncated();
    offset_ += got;
    return static_cast<std::size_t>(got);
  }

 private:
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
  off_t offset_ = 0;  // bytes read from the file
};

// Every byte, or the reason why not.
void writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      failWithReason(errno);
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
}

}  // namespace

std::unique_ptr<TextStream> LocalFileSystem::OpenTextFile(const std::string& path) {
  // Opening a FIFO waits for a writer and opening a device can act on it, so
  // the type is looked at before opening; the check after opening, and
  // O_NONBLOCK until then, cover a file swapped in between.
  requireWholePath(path);
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) failWithReason(errno);
  requireRegularFile(info);
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) failWithReason(errno);
  auto source = std::make_unique<FileSource>(fd, path);  // closes the file from here on
  if (::fstat(fd, &info) != 0) failWithReason(errno);
  requireRegularFile(info);
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) failWithReason(errno);
  return std::make_unique<LineReader>(std::move(source), std::make_unique<TextDecoder>(), path);
}

bool LocalFileSystem::FolderExists(const std::string& path) {
  struct stat info {};
  return path.find('\0') == std::string::npos && ::stat(path.c_str(), &info) == 0 &&
         S_ISDIR(info.st_mode);
}

void LocalFileSystem::CreateFolder(const std::string& path) {
  requireWholePath(path);
  if (::mkdir(path.c_str(), 0777) != 0) failWith(errno, "create " + path);
}

bool LocalFileSystem::CreateFolderFor(const std::string& path, const std::string&) {
  throw FileError(ENOTSUP, "create " + path +
                               ": a folder on this machine gets no Windows access list; a home "
                               "folder is \\\\server\\share\\name");
}

// mkstemp makes the file with mode 0600 from its first moment; once written
// whole it takes the path's place in one step (rename replaces a link rather
// than following it), so the path never names a half-written file.
void LocalFileSystem::WriteTextFile(const std::string& path, std::string_view text) {
  requireWholePath(path);
  std::string temporary = path + ".XXXXXX";
  int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) failWithReason(errno);
  try {
    writeAll(fd, "\xEF\xBB\xBF");  // UTF-8's byte-order mark
    writeAll(fd, text);
    if (::fsync(fd) != 0) failWithReason(errno);
    const int closed = ::close(fd);
    fd = -1;
    if (closed != 0) failWithReason(errno);
    if (::rename(temporary.c_str(), path.c_str()) != 0) failWithReason(errno);
  } catch (const FileError&) {
    if (fd >= 0) ::close(fd);
    ::unlink(temporary.c_str());
    throw;
  }
}

}  // namespace kestrine
