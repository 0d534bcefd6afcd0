#include "platform/win32/win32_file_server.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <cerrno>
#include <sstream>
#include <string_view>
#include <vector>

#include "platform/file_system.h"
#include "platform/platform_error.h"
#include "platform/text/path_names.h"
#include "platform/text/printable.h"
#include "platform/win32/wide_text.h"
#include "platform/win32/win32_file_system.h"

namespace kestrine {

namespace {

// The size of one reply of a folder's listing; a folder takes as many as it
// needs.
constexpr std::size_t kListingBufferBytes = 64 * 1024;

class OwnedHandle {
 public:
  explicit OwnedHandle(HANDLE handle) : handle_(handle) {}
  ~OwnedHandle() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

[[noreturn]] void failWith(DWORD error, const std::string& doing) {
  throw PlatformError(
      static_cast<int>(error),
      doing + ": " + windowsErrorText(error) + " (Windows error " + std::to_string(error) + ")");
}

// A folder that could not be looked up or created, by its errno.
[[noreturn]] void fileFailure(DWORD error, const std::string& doing) {
  throw FileError(errnoForWindowsError(error), doing + ": " + windowsErrorText(error));
}

// A NUL would end the path early for the Win32 call, naming another folder.
bool wholePath(const std::string& path) {
  return path.find('\0') == std::string::npos;
}

// \\?\UNC\server\share\... or \\?\C:\...: no length limit, and each name
// taken as it is, without the rewriting of . .. / and trailing dots and
// blanks that would make it name another file.
std::wstring extendedPath(const std::string& path) {
  const bool onShare = path.starts_with("\\\\");
  const bool onDrive = path.size() > 3 && path[1] == ':' && path[2] == '\\';
  if (!onShare && !onDrive) throw PlatformError(ERROR_BAD_PATHNAME, path + ": not a full path");
  const std::string rest = path.substr(onShare ? 2 : 3);
  std::istringstream names(rest + "\\");  // so that a trailing \ shows as an empty name
  int count = 0;
  for (std::string name; std::getline(names, name, '\\'); ++count) {
    if (const std::string problem = pathElementProblem(name); !problem.empty()) {
      throw PlatformError(ERROR_BAD_PATHNAME,
                          path + ": the name \"" + printable(name) + "\" " + problem);
    }
  }
  // A share needs its server and its name.
  if (onShare && count < 2) throw PlatformError(ERROR_BAD_PATHNAME, path + ": names no share");
  return (onShare ? L"\\\\?\\UNC\\" : L"\\\\?\\" + toWide(path.substr(0, 3))) + toWide(rest);
}

// Opens the file or folder itself, never what a junction or link points at.
HANDLE openItself(const std::wstring& path, DWORD access) {
  return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     nullptr, OPEN_EXISTING,
                     FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

// The SID in its standard form "S-1-...", as the system writes it.
std::string standardSid(const std::string& text) {
  PSID sid = nullptr;
  if (!ConvertStringSidToSidW(toWide(text).c_str(), &sid)) {
    failWith(GetLastError(), "\"" + printable(text) + "\" is no security identifier");
  }
  const LocalMemory ownedSid(sid);
  wchar_t* written = nullptr;
  if (!ConvertSidToStringSidW(sid, &written)) failWith(GetLastError(), "write a SID");
  const std::unique_ptr<wchar_t, LocalFreer> ownedText(written);
  return toUtf8(written);
}

}  // namespace

void LocalFreer::operator()(void* memory) const {
  LocalFree(memory);
}

LocalMemory fullControlDescriptor(const std::string& accountSid, bool folder) {
  // An alias such as "WD" (Everyone) or text that closes the entry is no
  // SID in its standard form.
  if (standardSid(accountSid) != accountSid) {
    throw PlatformError(ERROR_INVALID_SID,
                        "\"" + printable(accountSid) + "\" is no security identifier");
  }
  const std::string flags = folder ? "OICI" : "";
  const std::string sddl = "D:P(A;" + flags + ";FA;;;BA)(A;" + flags + ";FA;;;" + accountSid + ")";
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(toWide(sddl).c_str(), SDDL_REVISION_1,
                                                            &descriptor, nullptr)) {
    failWith(GetLastError(), "build the access list " + sddl);
  }
  return LocalMemory(descriptor);
}

namespace {

FileServer::Listing listHere(const std::string& folder) {
  const OwnedHandle handle(openItself(extendedPath(folder), FILE_LIST_DIRECTORY | SYNCHRONIZE));
  if (handle.get() == INVALID_HANDLE_VALUE) failWith(GetLastError(), "list " + folder);
  FileServer::Listing listing;
  std::vector<LONGLONG> buffer(kListingBufferBytes / sizeof(LONGLONG));  // aligned for the entries
  for (auto kind = FileIdBothDirectoryRestartInfo;; kind = FileIdBothDirectoryInfo) {
    if (!GetFileInformationByHandleEx(handle.get(), kind, buffer.data(), kListingBufferBytes)) {
      const DWORD error = GetLastError();
      if (error == ERROR_NO_MORE_FILES) break;
      failWith(error, "list " + folder);
    }
    for (auto* at = reinterpret_cast<const char*>(buffer.data());;) {
      const auto& entry = *reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(at);
      const std::string name =
          toUtf8(std::wstring_view(entry.FileName, entry.FileNameLength / sizeof(wchar_t)));
      const auto id = static_cast<std::uint64_t>(entry.FileId.QuadPart);
      if (name == ".") {
        listing.id = id;
      } else if (name == "..") {
        listing.parentId = id;
      } else {
        const bool reparse = (entry.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        // A reparse point's tag stands in the EA size field ([MS-FSCC] 2.4.21
        // FileIdBothDirectoryInformation).
        listing.entries.push_back({name, (entry.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0,
                                   reparse, reparse ? entry.EaSize : 0, id});
      }
      if (entry.NextEntryOffset == 0) break;
      at += entry.NextEntryOffset;
    }
  }
  return listing;
}

void grantHere(const std::string& path, const std::string& accountSid, bool folder) {
  const LocalMemory descriptor = fullControlDescriptor(accountSid, folder);
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL dacl = nullptr;
  if (!GetSecurityDescriptorDacl(descriptor.get(), &present, &dacl, &defaulted) || !present) {
    failWith(GetLastError(), "read the access list built for " + path);
  }
  const OwnedHandle handle(openItself(extendedPath(path), READ_CONTROL | WRITE_DAC));
  if (handle.get() == INVALID_HANDLE_VALUE) {
    failWith(GetLastError(), "open " + path + " to set its access list");
  }
  // Protected: nothing is inherited from the folder above.
  const DWORD error = SetSecurityInfo(
      handle.get(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
      nullptr, nullptr, dacl, nullptr);
  if (error != ERROR_SUCCESS) failWith(error, "set the access list of " + path);
}

// The SIDs that the object's own access list allows anything to.
std::vector<std::string> granteesHere(const std::string& path) {
  const OwnedHandle handle(openItself(extendedPath(path), READ_CONTROL));
  if (handle.get() == INVALID_HANDLE_VALUE) {
    failWith(GetLastError(), "open " + path + " to read its access list");
  }
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD error = GetSecurityInfo(handle.get(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                      nullptr, nullptr, &dacl, nullptr, &descriptor);
  if (error != ERROR_SUCCESS) failWith(error, "read the access list of " + path);
  const LocalMemory owned(descriptor);
  std::vector<std::string> sids;
  for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(dacl, i, &ace)) failWith(GetLastError(), "read the access list of " + path);
    const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
    if (allowed->Header.AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
    wchar_t* text = nullptr;
    if (!ConvertSidToStringSidW(const_cast<DWORD*>(&allowed->SidStart), &text)) {
      failWith(GetLastError(), "read the access list of " + path);
    }
    const std::unique_ptr<wchar_t, LocalFreer> ownedText(text);
    std::string sid = toUtf8(text);
    if (std::find(sids.begin(), sids.end(), sid) == sids.end()) sids.push_back(std::move(sid));
  }
  return sids;
}

}  // namespace

bool Win32FileServer::isFolder(const std::string& path) {
  if (createdJustNow(path)) return true;  // no round trip to ask what we just made
  created_.reset();
  if (!wholePath(path)) return false;
  DWORD attributes = INVALID_FILE_ATTRIBUTES;
  DWORD error = ERROR_SUCCESS;
  runOn(wait_, [&] {
    attributes = GetFileAttributesW(toWide(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) error = GetLastError();
  });
  if (attributes != INVALID_FILE_ATTRIBUTES) return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return false;
  fileFailure(error, "look up " + path);
}

bool Win32FileServer::createFolder(const std::string& path, const std::string& accountSid) {
  created_.reset();
  if (!wholePath(path)) {
    fileFailure(ERROR_INVALID_NAME, "create " + path.substr(0, path.find('\0')));
  }
  LocalMemory descriptor;
  if (!accountSid.empty()) descriptor = fullControlDescriptor(accountSid, true);
  SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), descriptor.get(), FALSE};
  DWORD error = ERROR_SUCCESS;
  runOn(wait_, [&] {
    if (!CreateDirectoryW(toWide(path).c_str(), descriptor ? &attributes : nullptr)) {
      error = GetLastError();
    }
  });
  if (error == ERROR_ALREADY_EXISTS) return false;
  if (error != ERROR_SUCCESS) fileFailure(error, "create " + path);
  created_ = Created{path, accountSid};
  return true;
}

FileServer::Listing Win32FileServer::list(const std::string& folder) {
  Listing listing;
  runOn(wait_, [&] { listing = listHere(folder); });
  return listing;
}

std::vector<std::string> Win32FileServer::grantees(const std::string& path) {
  std::vector<std::string> sids;
  runOn(wait_, [&] { sids = granteesHere(path); });
  return sids;
}

void Win32FileServer::setFullControl(const std::string& path, const FullControl& grant) {
  runOn(wait_, [&] { grantHere(path, grant.accountSid, grant.folder); });
}

}  // namespace kestrine
