#include "platform/win32/cacls_shell.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <algorithm>
#include <string_view>

#include "platform/win32/wide_text.h"
#include "platform/cacls_command.h"

namespace kestrine {

namespace {

constexpr std::string_view kComspec = "%COMSPEC%";
constexpr char kFallbackAdministrators[] = "Administrators";

// How long a stopped command may take to go.
constexpr DWORD kStopWaitMs = 5000;

class OwnedHandle {
 public:
  explicit OwnedHandle(HANDLE handle = nullptr) : handle_(handle) {}
  ~OwnedHandle() { reset(); }
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;

  HANDLE get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }
  void reset() {
    if (handle_) CloseHandle(handle_);
    handle_ = nullptr;
  }

 private:
  HANDLE handle_;
};

GrantResult failed(DWORD error, const std::string& doing) {
  return {static_cast<int>(error), doing + ": " + windowsErrorText(error)};
}

// The text with its environment variables put in; empty when that fails.
std::wstring expandEnvironment(const std::wstring& text) {
  DWORD size = ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
  while (size > 0) {
    std::wstring out(size, L'\0');
    const DWORD needed = ExpandEnvironmentStringsW(text.c_str(), out.data(), size);
    if (needed == 0) break;
    if (needed <= size) {
      out.resize(needed - 1);  // the count holds the closing NUL
      return out;
    }
    size = needed;  // the variable grew in between
  }
  return {};
}

// A job that ends every process in it when its handle closes, so that a
// stopped command takes cacls and the echo with it; none when the system
// does not give one.
HANDLE killingJob() {
  const HANDLE job = CreateJobObjectW(nullptr, nullptr);
  if (!job) return nullptr;
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (!SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
    CloseHandle(job);
    return nullptr;
  }
  return job;
}

DWORD waitMs(std::chrono::milliseconds limit) {
  const auto longest = std::chrono::milliseconds(INFINITE - 1);
  return static_cast<DWORD>(std::clamp(limit, std::chrono::milliseconds(0), longest).count());
}

std::string durationText(std::chrono::milliseconds limit) {
  const auto minutes = std::chrono::duration_cast<std::chrono::minutes>(limit);
  if (minutes.count() >= 1 && minutes == limit) {
    return std::to_string(minutes.count()) + (minutes.count() == 1 ? " minute" : " minutes");
  }
  return std::to_string(limit.count()) + " ms";
}

}  // namespace

std::string administratorsGroupName() {
  BYTE sid[SECURITY_MAX_SID_SIZE];
  DWORD sidSize = sizeof sid;
  if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, sid, &sidSize)) {
    return kFallbackAdministrators;
  }
  DWORD nameLength = 0;
  DWORD domainLength = 0;
  SID_NAME_USE use{};
  // The first call tells the lengths.
  LookupAccountSidW(nullptr, sid, nullptr, &nameLength, nullptr, &domainLength, &use);
  if (nameLength == 0) return kFallbackAdministrators;
  std::wstring name(nameLength, L'\0');
  std::wstring domain(domainLength + 1, L'\0');
  domainLength = static_cast<DWORD>(domain.size());
  if (!LookupAccountSidW(nullptr, sid, name.data(), &nameLength, domain.data(), &domainLength,
                         &use) ||
      nameLength == 0) {
    return kFallbackAdministrators;
  }
  name.resize(nameLength);
  return toUtf8(name);
}

GrantResult CaclsShell::grantFullControl(const std::string& folder, const std::string& account) {
  const auto command = caclsCommand(folder, account, administrators_);
  if (!command || !command->starts_with(kComspec)) {
    return {ERROR_INVALID_NAME,
            "the folder, the account or the group name holds a character that cmd.exe would "
            "interpret (\" % ^ or a control character)"};
  }
  // Nothing else in the command expands: caclsCommand refuses % in names.
  const std::wstring comspec = expandEnvironment(toWide(kComspec));
  if (comspec.empty() || comspec.find(L'%') != std::wstring::npos) {
    return failed(ERROR_ENVVAR_NOT_FOUND, "find the command interpreter in COMSPEC");
  }
  // The interpreter is quoted, so that a path with blanks is one word.
  std::wstring commandLine =
      L"\"" + comspec + L"\"" + toWide(std::string_view(*command).substr(kComspec.size()));

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWMINIMIZED;
  PROCESS_INFORMATION started{};
  // Suspended until it is in the job, so that nothing it starts escapes.
  if (!CreateProcessW(comspec.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                      CREATE_NEW_CONSOLE | CREATE_SUSPENDED, nullptr, nullptr, &startup,
                      &started)) {
    return failed(GetLastError(), "start " + toUtf8(comspec));
  }
  const OwnedHandle process(started.hProcess);
  const OwnedHandle thread(started.hThread);
  OwnedHandle job(killingJob());
  if (job && !AssignProcessToJobObject(job.get(), process.get())) job.reset();
  if (ResumeThread(thread.get()) == static_cast<DWORD>(-1)) {
    const DWORD error = GetLastError();
    TerminateProcess(process.get(), error);
    return failed(error, "start " + toUtf8(comspec));
  }

  const DWORD waited = WaitForSingleObject(process.get(), waitMs(timeLimit_));
  if (waited != WAIT_OBJECT_0) {
    const DWORD error = waited == WAIT_TIMEOUT ? ERROR_TIMEOUT : GetLastError();
    if (job) TerminateJobObject(job.get(), ERROR_TIMEOUT);
    TerminateProcess(process.get(), ERROR_TIMEOUT);
    WaitForSingleObject(process.get(), kStopWaitMs);
    if (waited == WAIT_TIMEOUT) {
      return {ERROR_TIMEOUT, "the permission command did not end within " +
                                 durationText(timeLimit_) + " and was stopped"};
    }
    return failed(error, "wait for the permission command");
  }
  DWORD exitCode = 0;
  if (!GetExitCodeProcess(process.get(), &exitCode)) {
    return failed(GetLastError(), "read the exit code of the permission command");
  }
  if (exitCode == 0) return {};
  return {static_cast<int>(exitCode),
          "the permission command ended with exit code " + std::to_string(exitCode)};
}

}  // namespace kestrine
