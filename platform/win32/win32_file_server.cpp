#include "platform/win32/win32_file_server.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
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

LocalMemory fullControlDescriptor(const std::string& accountSid, bool folder,
                                  bool administratorsOwn) {
  // An alias such as "WD" (Everyone) or text that closes the entry is no
  // SID in its standard form.
  if (standardSid(accountSid) != accountSid) {
    throw PlatformError(ERROR_INVALID_SID,
                        "\"" + printable(accountSid) + "\" is no security identifier");
  }
  const std::string flags = folder ? "OICI" : "";
  const std::string sddl = std::string(administratorsOwn ? "O:BA" : "") + "D:P(A;" + flags +
                           ";FA;;;BA)(A;" + flags + ";FA;;;" + accountSid + ")";
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(toWide(sddl).c_str(), SDDL_REVISION_1,
                                                            &descriptor, nullptr)) {
    failWith(GetLastError(), "build the access list " + sddl);
  }
  return LocalMemory(descriptor);
}

namespace {

// One listing of the folder, all its replies, or the Windows error that ended it.
DWORD listHere(const std::wstring& folder, FileServer::Listing& listing) {
  listing = {};
  const OwnedHandle handle(openItself(folder, FILE_LIST_DIRECTORY | SYNCHRONIZE));
  if (handle.get() == INVALID_HANDLE_VALUE) return GetLastError();
  std::vector<LONGLONG> buffer(kListingBufferBytes / sizeof(LONGLONG));  // aligned for the entries
  for (auto kind = FileIdBothDirectoryRestartInfo;; kind = FileIdBothDirectoryInfo) {
    if (!GetFileInformationByHandleEx(handle.get(), kind, buffer.data(), kListingBufferBytes)) {
      const DWORD error = GetLastError();
      return error == ERROR_NO_MORE_FILES ? ERROR_SUCCESS : error;
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
        // FileIdBothDirectoryInformation); the set checks it again on its handle.
        listing.entries.push_back({name, (entry.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0,
                                   reparse, reparse ? entry.EaSize : 0, id});
      }
      if (entry.NextEntryOffset == 0) break;
      at += entry.NextEntryOffset;
    }
  }
}

// Sets the descriptor on the object itself, once it is known to be the one
// listed and no junction or link. SetSecurityInfo and SetNamedSecurityInfo
// would impose the inheritance model on everything below a folder, in one
// unbounded call, before the walk has looked at it ("Automatic Propagation
// of Inheritable ACEs"). SetKernelObjectSecurity sets this one object's
// descriptor as given ("SetKernelObjectSecurity function
// (securitybaseapi.h)", which points file objects to those two for the
// propagation that is not wanted here: the walk sets every object itself).
// The descriptor's SE_DACL_PROTECTED ("D:P") keeps inherited entries off
// it; only DACL and OWNER are named, the flags that SMB carries.
DWORD setHere(const std::wstring& path, const std::string& shown,
              const FileServer::FullControl& grant, PSECURITY_DESCRIPTOR descriptor) {
  const DWORD access =
      READ_CONTROL | WRITE_DAC | FILE_READ_ATTRIBUTES | (grant.administratorsOwn ? WRITE_OWNER : 0);
  const OwnedHandle handle(openItself(path, access));
  if (handle.get() == INVALID_HANDLE_VALUE) return GetLastError();
  // The tag and the ID of what this handle holds, not of what a name led to
  // when it was listed ("FILE_ATTRIBUTE_TAG_INFO structure", "GetFileInformationByHandle").
  FILE_ATTRIBUTE_TAG_INFO tag{};
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandleEx(handle.get(), FileAttributeTagInfo, &tag, sizeof tag) ||
      !GetFileInformationByHandle(handle.get(), &info)) {
    return GetLastError();
  }
  const std::uint64_t id = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
  requireListedObject(
      shown,
      {id, (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0,
       (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? tag.ReparseTag : 0},
      grant.listedId);
  const SECURITY_INFORMATION what =
      DACL_SECURITY_INFORMATION | (grant.administratorsOwn ? OWNER_SECURITY_INFORMATION : 0);
  if (!SetKernelObjectSecurity(handle.get(), what, descriptor)) return GetLastError();
  return ERROR_SUCCESS;
}

// The server of \\server\share\...; "" for a local path.
std::string serverOf(const std::string& path) {
  if (!path.starts_with("\\\\")) return {};
  return foldedCase(path.substr(2, path.find('\\', 2) - 2));
}

// Errors of a server to which no connection could be made: it counts as
// unreachable, as one that did not answer does.
bool unreachable(DWORD error) {
  return error == ERROR_BAD_NETPATH || error == ERROR_NETWORK_UNREACHABLE ||
         error == ERROR_HOST_UNREACHABLE || error == ERROR_CONNECTION_REFUSED;
}

// The SIDs that the object's own access list allows anything to, each
// once; the Windows error of the first call that failed.
DWORD granteesHere(const std::wstring& path, std::vector<std::string>& sids) {
  sids.clear();
  const OwnedHandle handle(openItself(path, READ_CONTROL));
  if (handle.get() == INVALID_HANDLE_VALUE) return GetLastError();
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD error = GetSecurityInfo(handle.get(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                      nullptr, nullptr, &dacl, nullptr, &descriptor);
  if (error != ERROR_SUCCESS) return error;
  const LocalMemory owned(descriptor);
  for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(dacl, i, &ace)) return GetLastError();
    const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
    if (allowed->Header.AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
    wchar_t* text = nullptr;
    if (!ConvertSidToStringSidW(const_cast<DWORD*>(&allowed->SidStart), &text)) {
      return GetLastError();
    }
    const std::unique_ptr<wchar_t, LocalFreer> ownedText(text);
    std::string sid = toUtf8(text);
    if (std::find(sids.begin(), sids.end(), sid) == sids.end()) sids.push_back(std::move(sid));
  }
  return ERROR_SUCCESS;
}

}  // namespace

unsigned long Win32FileServer::call(const std::string& path, const std::string& doing, bool asErrno,
                                    const std::function<unsigned long()>& attempt,
                                    unsigned long* firstError, bool write) {
  created_.reset();
  const std::string name = serverOf(path);
  Server* server = nullptr;
  if (!name.empty()) {
    const auto [known, added] =
        servers_.try_emplace(name, Server{ServerRules(settings_, wait_), 0, {}});
    server = &known->second;
    if (added) server->rules.name(path.substr(2, path.find('\\', 2) - 2));
    if (server->rules.held()) {
      const std::string reason = doing + ": " + server->heldWhy;
      if (asErrno) {
        throw FileError(errnoForWindowsError(server->heldError), reason,
                        FailureKind::kServerGivenUp);
      }
      throw PlatformError(static_cast<int>(server->heldError), reason, FailureKind::kServerGivenUp);
    }
  }
  struct Disarm {
    IoDeadline& deadline;
    ~Disarm() { deadline.disarm(); }
  } disarm{deadline_};
  DWORD error = ERROR_SUCCESS;
  DWORD first = ERROR_SUCCESS;
  int tries = 0;
  const auto once = [&] {
    // On the thread that makes the call: its I/O is what the deadline cancels.
    // From the first try on: the call may have waited for the server's hold.
    if (tries == 0) {
      waited_ = write && server ? server->rules.writeWait() : settings_.timeout;
      deadline_.arm(std::chrono::steady_clock::now() + waited_);
    }
    error = attempt();
    // Whatever a call cut short at its deadline reports, it went unanswered.
    if (error != ERROR_SUCCESS && deadline_.overdue()) error = ERROR_SEM_TIMEOUT;
    if (tries++ == 0) first = error;
    return replyToWindowsError(error);
  };
  if (server) {
    const bool silentBefore = server->rules.silent();
    const Reply reply = server->rules.call(true, once);
    if (reply == Reply::kNoAnswer) {
      server->heldError = error;
      server->heldWhy = heldReason(settings_, kFileServerRole);
    } else if (unreachable(error)) {
      server->rules.hold();
      server->heldError = error;
      server->heldWhy = windowsErrorText(error) + " (Windows error " + std::to_string(error) +
                        "); not asked again for " + std::to_string(settings_.retryAfter.count()) +
                        " s";
    }
    // One that went unanswered long enough to be given up: the call that
    // first met its silence told it.
    givenUp_ = silentBefore && server->rules.held();
  } else {
    runOn(wait_, [&] { once(); });
    givenUp_ = false;
  }
  if (firstError) *firstError = first;
  return error;
}

void Win32FileServer::fail(unsigned long error, const std::string& doing, bool asErrno) const {
  const int code = errnoForWindowsError(error);
  const std::string reason = doing + ": " +
                             (code == ETIMEDOUT ? noAnswerReason(waited_, kFileServerRole)
                                                : windowsErrorText(error) + " (Windows error " +
                                                      std::to_string(error) + ")");
  const FailureKind kind =
      code == ETIMEDOUT && givenUp_ ? FailureKind::kServerGivenUp : FailureKind::kOther;
  if (asErrno) throw FileError(code, reason, kind);
  throw PlatformError(static_cast<int>(error), reason, kind);
}

bool Win32FileServer::isFolder(const std::string& path) {
  if (createdJustNow(path)) return true;  // no round trip to ask what we just made
  created_.reset();
  if (!wholePath(path)) return false;
  const std::wstring wide = toWide(path);
  DWORD attributes = INVALID_FILE_ATTRIBUTES;
  const DWORD error = call(path, "look up " + path, true, [&]() -> DWORD {
    attributes = GetFileAttributesW(wide.c_str());
    return attributes == INVALID_FILE_ATTRIBUTES ? GetLastError() : ERROR_SUCCESS;
  });
  if (error == ERROR_SUCCESS) return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return false;
  fail(error, "look up " + path, true);
}

bool Win32FileServer::createFolder(const std::string& path, const std::string& accountSid) {
  created_.reset();
  if (!wholePath(path)) {
    fileFailure(ERROR_INVALID_NAME, "create " + path.substr(0, path.find('\0')));
  }
  LocalMemory descriptor;
  if (!accountSid.empty()) descriptor = fullControlDescriptor(accountSid, true);
  SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), descriptor.get(), FALSE};
  const std::wstring wide = toWide(path);
  DWORD first = ERROR_SUCCESS;
  DWORD error = call(
      path, "create " + path, true,
      [&]() -> DWORD {
        return CreateDirectoryW(wide.c_str(), descriptor ? &attributes : nullptr) ? ERROR_SUCCESS
                                                                                  : GetLastError();
      },
      &first, true);
  // A lost try may have made the folder: "exists" on the second cannot tell
  // ours from one that was there before, so the first failure stands.
  if (error == ERROR_ALREADY_EXISTS && first != ERROR_SUCCESS) error = first;
  if (error == ERROR_ALREADY_EXISTS) return false;
  if (error != ERROR_SUCCESS) fail(error, "create " + path, true);
  created_ = Created{path, accountSid};
  return true;
}

FileServer::Listing Win32FileServer::list(const std::string& folder) {
  const std::wstring extended = extendedPath(folder);
  Listing listing;
  const DWORD error =
      call(folder, "list " + folder, false, [&] { return listHere(extended, listing); });
  if (error != ERROR_SUCCESS) fail(error, "list " + folder, false);
  return listing;
}

std::vector<std::string> Win32FileServer::grantees(const std::string& path) {
  const std::wstring extended = extendedPath(path);
  const std::string doing = "read the access list of " + path;
  std::vector<std::string> sids;
  const DWORD error = call(path, doing, false, [&] { return granteesHere(extended, sids); });
  if (error != ERROR_SUCCESS) fail(error, doing, false);
  return sids;
}

void Win32FileServer::setFullControl(const std::string& path, const FullControl& grant) {
  const LocalMemory descriptor =
      fullControlDescriptor(grant.accountSid, grant.folder, grant.administratorsOwn);
  const std::wstring extended = extendedPath(path);
  const std::string doing = "set the access list of " + path;
  const DWORD error =
      call(path, doing, false, [&] { return setHere(extended, path, grant, descriptor.get()); });
  if (error != ERROR_SUCCESS) fail(error, doing, false);
}

}  // namespace kestrine
