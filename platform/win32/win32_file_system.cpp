#include "platform/win32/win32_file_system.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cwctype>
#include <utility>

#include "platform/text/utf16_decoder.h"
#include "platform/text/wipe.h"
#include "platform/win32/wide_text.h"
#include "platform/win32/win32_file_server.h"

namespace kestrine {

namespace {

[[noreturn]] void failWith(DWORD error, const std::string& doing) {
  throw FileError(errnoForWindowsError(error), doing + ": " + windowsErrorText(error));
}

// The caller's step names the file; the error says why it cannot be read
// or written.
[[noreturn]] void cannotOpen(DWORD error) {
  throw FileError(errnoForWindowsError(error), windowsErrorText(error));
}

[[noreturn]] void notRegularFile(int code) {
  throw FileError(code, "not a regular file");
}

// A NUL would end the path early for the Win32 call, naming another file or
// folder.
bool wholePath(const std::string& path) {
  return path.find('\0') == std::string::npos;
}

bool startsWith(std::wstring_view text, std::wstring_view start) {
  return text.size() >= start.size() &&
         std::equal(start.begin(), start.end(), text.begin(), [](wchar_t a, wchar_t b) {
           return std::towupper(static_cast<wint_t>(a)) == std::towupper(static_cast<wint_t>(b));
         });
}

// True for a device rather than a file: a pipe, a port, a volume, a disk.
// Opening one can act on it, so it is refused before opening. The full path
// also turns the old device names (NUL, COM1, C:\dir\aux.csv) into \\.\NAME.
bool namesDevice(const std::wstring& path) {
  std::wstring full(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length == 0) return false;  // opening it fails with the reason
    if (length < full.size()) {
      full.resize(length);
      break;
    }
    full.resize(length);
  }
  if (startsWith(full, L"\\\\.\\")) return true;
  // The unparsed forms are files only as \\?\C:\... and \\?\UNC\...
  if (startsWith(full, L"\\\\?\\") || startsWith(full, L"\\??\\")) {
    const std::wstring_view rest = std::wstring_view(full).substr(4);
    const bool drive = rest.size() >= 3 && std::iswalpha(static_cast<wint_t>(rest[0])) &&
                       rest[1] == L':' && rest[2] == L'\\';
    return !drive && !startsWith(rest, L"UNC\\");
  }
  return false;
}

bool isFolder(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// The bytes of an open disk file.
class HandleSource : public ByteSource {
 public:
  HandleSource(HANDLE file, std::string path, NetworkWait* wait)
      : file_(file), path_(std::move(path)), wait_(wait) {}
  ~HandleSource() override { CloseHandle(file_); }
  HandleSource(const HandleSource&) = delete;
  HandleSource& operator=(const HandleSource&) = delete;

  HANDLE handle() const { return file_; }

  std::size_t read(char* buffer, std::size_t size) override {
    DWORD got = 0;
    const auto want = static_cast<DWORD>(std::min<std::size_t>(size, MAXDWORD));
    DWORD error = ERROR_SUCCESS;
    runOn(wait_, [&] {
      if (!ReadFile(file_, buffer, want, &got, nullptr)) error = GetLastError();
    });
    if (error != ERROR_SUCCESS) {
      if (error != ERROR_HANDLE_EOF) failWith(error, "read " + path_);
      got = 0;
    }
    if (got == 0) requireNotTruncated();
    offset_ += got;
    return got;
  }

 private:
  // Other programs may write the file while it is read; one cut short would
  // otherwise just end early, its last records missing without a word.
  void requireNotTruncated() {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file_, &size)) failWith(GetLastError(), "read " + path_);
    if (size.QuadPart < offset_) {
      throw FileError(EIO, "read " + path_ + ": the file was truncated while it was read");
    }
  }

  HANDLE file_;
  std::string path_;
  NetworkWait* wait_;
  LONGLONG offset_ = 0;  // bytes read from the file
};

void requireDiskFile(HANDLE file) {
  if (GetFileType(file) != FILE_TYPE_DISK) notRegularFile(EINVAL);
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(file, &info)) notRegularFile(EINVAL);  // a volume, a disk
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) notRegularFile(EISDIR);
}

// The bytes in the code page as UTF-16; false when one of them does not map.
bool toWideStrictly(UINT codePage, std::string_view bytes, std::wstring& out) {
  const auto length = static_cast<int>(bytes.size());
  const int needed =
      MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data(), length, nullptr, 0);
  if (needed <= 0) return false;
  const std::size_t start = out.size();
  out.resize(start + static_cast<std::size_t>(needed));
  MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data(), length, out.data() + start,
                      needed);
  return true;
}

void appendWide(std::string& out, std::wstring_view wide, std::optional<BadByte>& bad) {
  std::string utf8 = toUtf8(wide);
  appendCodePageText(out, utf8, bad);
  wipe(utf8);
}

// Writes the bytes under a name of their own beside the path, then moves
// that file in the path's place in one step (a link there is replaced, not
// followed), so the path never names a half-written file. The error, or
// ERROR_SUCCESS.
DWORD replaceFile(const std::wstring& path, std::string_view bytes) {
  std::wstring temporary;
  HANDLE file = INVALID_HANDLE_VALUE;
  DWORD error = ERROR_FILE_EXISTS;
  for (unsigned attempt = 0; attempt < 100 && error == ERROR_FILE_EXISTS; ++attempt) {
    temporary = path + L"." + std::to_wstring(GetCurrentProcessId()) + L"-" +
                std::to_wstring(attempt) + L".tmp";
    file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
    error = file == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
  }
  if (error != ERROR_SUCCESS) return error;
  while (!bytes.empty() && error == ERROR_SUCCESS) {
    DWORD written = 0;
    const auto chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
    if (WriteFile(file, bytes.data(), chunk, &written, nullptr)) {
      bytes.remove_prefix(written);
    } else {
      error = GetLastError();
    }
  }
  if (error == ERROR_SUCCESS && !FlushFileBuffers(file)) error = GetLastError();
  CloseHandle(file);
  if (error == ERROR_SUCCESS && !MoveFileExW(temporary.c_str(), path.c_str(),
                                             MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    error = GetLastError();
  }
  if (error != ERROR_SUCCESS) DeleteFileW(temporary.c_str());
  return error;
}

}  // namespace

Win32CodePageDecoder::Win32CodePageDecoder() : codePage_(GetACP()) {}

std::string Win32CodePageDecoder::decode(std::string_view bytes, std::optional<BadByte>& bad) {
  if (codePage_ == CP_UTF8) return repairUtf8(bytes, bad);
  std::string out;
  if (bytes.empty()) return out;
  out.reserve(3 * bytes.size());
  std::wstring wide;
  WipeOnExit wipeWide(wide);
  if (bytes.size() <= static_cast<std::size_t>(INT_MAX) && toWideStrictly(codePage_, bytes, wide)) {
    appendWide(out, wide, bad);
    return out;
  }
  // Character by character, so that only what does not map is replaced; a
  // lead byte with a bad second byte loses the lead byte alone.
  for (std::size_t i = 0; i < bytes.size();) {
    const auto byte = static_cast<BYTE>(bytes[i]);
    const std::size_t length = IsDBCSLeadByteEx(codePage_, byte) && i + 1 < bytes.size() ? 2 : 1;
    wipe(wide);
    if (toWideStrictly(codePage_, bytes.substr(i, length), wide)) {
      appendWide(out, wide, bad);
      i += length;
    } else {
      if (!bad) bad = BadByte{out.size(), byte};
      appendWiping(out, kReplacementCharacter);
      ++i;
    }
  }
  return out;
}

std::string Win32CodePageDecoder::name() const {
  return codePage_ == CP_UTF8 ? "UTF-8" : "code page " + std::to_string(codePage_);
}

int errnoForWindowsError(unsigned long error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
      return ENOENT;
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS:
      return EEXIST;
    case ERROR_ACCESS_DENIED:
    case ERROR_NETWORK_ACCESS_DENIED:
    case ERROR_PRIVILEGE_NOT_HELD:
      return EACCES;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return EBUSY;
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_DIRECTORY:
      return EINVAL;
    case ERROR_FILENAME_EXCED_RANGE:
      return ENAMETOOLONG;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_WRITE_PROTECT:
      return EROFS;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return ENOMEM;
    // The SMB client's "the server did not answer" (STATUS_IO_TIMEOUT), and a
    // call cancelled at its deadline ("CancelSynchronousIo function": the
    // cancelled request fails with ERROR_OPERATION_ABORTED); nothing else
    // here cancels I/O.
    case ERROR_SEM_TIMEOUT:
    case ERROR_TIMEOUT:
    case WAIT_TIMEOUT:
    case ERROR_OPERATION_ABORTED:
      return ETIMEDOUT;
    // The connection went away under the call ("System Error Codes (0-499)",
    // "(1000-1299)"): the server closed or reset it, or it was dropped.
    case ERROR_NETNAME_DELETED:
    case ERROR_UNEXP_NET_ERR:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_VC_DISCONNECTED:
    case ERROR_CONNECTION_ABORTED:
    case ERROR_GRACEFUL_DISCONNECT:
    case ERROR_CONNECTION_INVALID:
      return ECONNRESET;
    // Refused at once, without a wait: asking again soon costs nothing.
    case ERROR_NETWORK_UNREACHABLE:
      return ENETUNREACH;
    case ERROR_HOST_UNREACHABLE:
      return EHOSTUNREACH;
    case ERROR_CONNECTION_REFUSED:
      return ECONNREFUSED;
    default:
      return EIO;
  }
}

Reply replyToWindowsError(unsigned long error) {
  switch (errnoForWindowsError(error)) {
    case ETIMEDOUT:
      return Reply::kNoAnswer;
    case ECONNRESET:
      return Reply::kLost;
    default:
      return Reply::kAnswered;
  }
}

Win32FileSystem::Win32FileSystem(NetworkWait* wait, std::shared_ptr<FileServer> server)
    : wait_(wait), server_(server ? std::move(server) : std::make_shared<Win32FileServer>(wait)) {}

std::unique_ptr<TextStream> Win32FileSystem::OpenTextFile(const std::string& path) {
  if (!wholePath(path)) throw FileError(EINVAL, windowsErrorText(ERROR_INVALID_NAME));
  const std::wstring wide = toWide(path);
  if (namesDevice(wide)) notRegularFile(EINVAL);
  HANDLE file = INVALID_HANDLE_VALUE;
  DWORD error = ERROR_SUCCESS;
  bool folder = false;
  runOn(wait_, [&] {
    // Shared for writing: a spreadsheet program may hold the file open.
    file = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) return;
    error = GetLastError();
    folder = error == ERROR_ACCESS_DENIED && isFolder(wide);
  });
  if (file == INVALID_HANDLE_VALUE) {
    // A folder does not open as a file at all.
    if (folder) notRegularFile(EISDIR);
    cannotOpen(error);
  }
  // Closes the file from here on.
  auto source = std::make_unique<HandleSource>(file, path, wait_);
  requireDiskFile(source->handle());
  return std::make_unique<LineReader>(std::move(source), std::make_unique<Win32CodePageDecoder>(),
                                      path);
}

void Win32FileSystem::CreateFolder(const std::string& path) {
  if (!server_->createFolder(path, "")) {
    throw FileError(EEXIST, "create " + path + ": " + windowsErrorText(ERROR_ALREADY_EXISTS));
  }
}

bool Win32FileSystem::FolderExists(const std::string& path) {
  try {
    return server_->isFolder(path);
  } catch (const PlatformError&) {
    return false;  // a folder that cannot be reached is not there for us
  }
}

// UTF-8 with its mark and CR LF line ends, as Windows editors write text. The
// copy with CR LF is made without growing, and wiped: it holds passwords.
void Win32FileSystem::WriteTextFile(const std::string& path, std::string_view text) {
  if (!wholePath(path)) throw FileError(EINVAL, windowsErrorText(ERROR_INVALID_NAME));
  const std::wstring wide = toWide(path);
  if (namesDevice(wide)) notRegularFile(EINVAL);
  std::string bytes;
  WipeOnExit wipeBytes(bytes);
  bytes.reserve(3 + text.size() +
                static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')));
  bytes += "\xEF\xBB\xBF";
  for (const char c : text) {
    if (c == '\n') bytes += '\r';
    bytes += c;
  }
  DWORD error = ERROR_SUCCESS;
  runOn(wait_, [&] { error = replaceFile(wide, bytes); });
  if (error != ERROR_SUCCESS) cannotOpen(error);
}

}  // namespace kestrine
