// Checks of the Win32 file layer and the cacls shell, run under Wine or on
// Windows: tests/win32/run_self_check.sh builds it with mingw-w64.
//
// The program also plays the command interpreter: COMSPEC is pointed at it
// with KESTRINE_FAKE_COMSPEC set, so that the checks see the command line and
// window a grant starts, and can make it fail or hang.

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/win32/cacls_shell.h"
#include "platform/win32/wide_text.h"
#include "platform/win32/win32_file_system.h"

namespace fs = std::filesystem;
using namespace kestrine;
using Lines = std::vector<std::string>;

namespace {

int failures = 0;
int checks = 0;

std::ostream& operator<<(std::ostream& out, const Lines& lines) {
  out << "{";
  for (const std::string& line : lines) out << " \"" << line << "\"";
  return out << " }";
}

void check(bool ok, const char* what, int line, const std::string& detail = {}) {
  ++checks;
  if (ok) return;
  ++failures;
  std::printf("FAILED line %d: %s%s\n", line, what, detail.c_str());
}

template <class A, class B>
void checkEqual(const A& actual, const B& expected, const char* what, int line) {
  std::ostringstream detail;
  if (!(actual == expected)) detail << "\n  got:      " << actual << "\n  expected: " << expected;
  check(actual == expected, what, line, detail.str());
}

#define CHECK(x) check((x), #x, __LINE__)
#define CHECK_EQ(a, b) checkEqual((a), (b), #a " == " #b, __LINE__)

std::optional<FileError> fileErrorOf(const std::function<void()>& step) {
  try {
    step();
  } catch (const FileError& e) {
    return e;
  }
  return std::nullopt;
}

std::wstring environment(const wchar_t* name) {
  wchar_t value[32768];
  const DWORD length = GetEnvironmentVariableW(name, value, 32768);
  return length > 0 && length < 32768 ? std::wstring(value, length) : std::wstring();
}

std::wstring selfPath() {
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  return std::wstring(path, length);
}

void writeFile(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string utf8(const fs::path& path) {
  return toUtf8(path.wstring());
}

Lines readLines(FileSystem& files, const std::string& path) {
  auto stream = files.OpenTextFile(path);
  Lines lines;
  while (!stream->AtEndOfStream()) lines.push_back(stream->ReadLine());
  return lines;
}

// ---- the command interpreter's part ----

int fakeComspec(const std::wstring& mode) {
  const fs::path out = environment(L"KESTRINE_FAKE_COMSPEC_OUT");
  if (mode == L"record") {
    STARTUPINFOW startup{};
    GetStartupInfoW(&startup);
    std::ostringstream text;
    text << toUtf8(GetCommandLineW()) << "\n"
         << ((startup.dwFlags & STARTF_USESHOWWINDOW) != 0) << " " << startup.wShowWindow;
    writeFile(out, text.str());
    return std::atoi(toUtf8(environment(L"KESTRINE_FAKE_COMSPEC_EXIT")).c_str());
  }
  if (mode == L"hang") {
    // Starts a program of its own, as cmd.exe starts cacls, and waits.
    SetEnvironmentVariableW(L"KESTRINE_FAKE_COMSPEC", L"hang-child");
    std::wstring commandLine = L"\"" + selfPath() + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child{};
    if (CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                       &startup, &child)) {
      writeFile(out, std::to_string(child.dwProcessId));
      CloseHandle(child.hThread);
      CloseHandle(child.hProcess);
    }
    Sleep(INFINITE);
  }
  if (mode == L"hang-child") Sleep(INFINITE);
  return 99;
}

// ---- checks ----

void checkWideText() {
  const std::string text = "Z\xC3\xBCrich \xF0\x9F\x98\x80";
  CHECK(toWide(text) == L"Z\u00FCrich \U0001F600");
  CHECK_EQ(toUtf8(toWide(text)), text);
  CHECK_EQ(toUtf8(toWide("")), std::string());
  CHECK_EQ(toUtf8(toWide("a\xFF")), std::string("a\xEF\xBF\xBD"));
  CHECK_EQ(toUtf8(std::wstring(1, L'\xD800') + L"b"), std::string("\xEF\xBF\xBD"
                                                                  "b"));
  const std::string denied = windowsErrorText(ERROR_ACCESS_DENIED);  // Wine's words differ
  CHECK(denied.find("ccess") != std::string::npos && denied.back() != '.' && denied.back() != '\n');
  CHECK_EQ(windowsErrorText(0x2FFFFFFF), std::string("Windows error 805306367"));
  CHECK_EQ(errnoForWindowsError(ERROR_ALREADY_EXISTS), EEXIST);
  CHECK_EQ(errnoForWindowsError(ERROR_BAD_NETPATH), ENOENT);
  CHECK_EQ(errnoForWindowsError(ERROR_ACCESS_DENIED), EACCES);
  CHECK_EQ(errnoForWindowsError(ERROR_INVALID_NAME), EINVAL);
  CHECK_EQ(errnoForWindowsError(ERROR_CRC), EIO);
}

void checkCodePages() {
  std::optional<BadByte> bad;
  CHECK_EQ(Win32CodePageDecoder(1252).decode("Z\xFCrich \x80", bad),
           std::string("Z\xC3\xBCrich \xE2\x82\xAC"));
  CHECK_EQ(Win32CodePageDecoder(1252).decode("", bad), std::string());
  // Shift JIS: two-byte characters; a lead byte without its second byte goes
  // alone, and what follows is read again.
  Win32CodePageDecoder shiftJis(932);
  CHECK_EQ(shiftJis.decode("a\x82\xA0z", bad), std::string("a\xE3\x81\x82z"));
  CHECK_EQ(shiftJis.decode("\x82 a", bad), std::string("\xEF\xBF\xBD a"));
  CHECK_EQ(shiftJis.decode("a\x82", bad), std::string("a\xEF\xBF\xBD"));
  CHECK_EQ(Win32CodePageDecoder(CP_UTF8).decode("\xC3\xBC\xC3", bad),
           std::string("\xC3\xBC\xEF\xBF\xBD"));
  std::printf("ANSI code page: %u\n", GetACP());
}

void checkFolders(const fs::path& root) {
  Win32FileSystem files;
  const std::string home = utf8(root / L"home");
  CHECK(!files.FolderExists(home));
  files.CreateFolder(home);
  CHECK(files.FolderExists(home));
  auto error = fileErrorOf([&] { files.CreateFolder(home); });
  CHECK(error && error->code() == EEXIST);
  if (error) CHECK_EQ(std::string(error->what()).rfind("create " + home + ": ", 0), 0u);
  if (error) std::printf("exists: %s\n", error->what());

  // Never a parent.
  error = fileErrorOf([&] { files.CreateFolder(utf8(root / L"a" / L"b")); });
  CHECK(error && error->code() == ENOENT);
  if (error) std::printf("no parent: %s\n", error->what());
  CHECK(!fs::exists(root / L"a"));

  error = fileErrorOf([&] { files.CreateFolder(utf8(root / L"a<b")); });
  CHECK(error && error->code() == EINVAL);
  if (error) std::printf("bad name: %s\n", error->what());

  // A NUL byte would name the folder before it.
  const std::string cut = utf8(root / L"cut");
  error = fileErrorOf([&] { files.CreateFolder(cut + std::string("\0x", 2)); });
  CHECK(error && error->code() == EINVAL);
  CHECK(!fs::exists(root / L"cut"));
  CHECK(!files.FolderExists(home + std::string("\0x", 2)));

  const std::wstring unicodeName = L"J\u00FCrgen \U0001F600";
  files.CreateFolder(utf8(root / unicodeName));
  CHECK(fs::is_directory(root / unicodeName));
  CHECK(files.FolderExists(utf8(root / unicodeName)));

  writeFile(root / L"file.txt", "x");
  CHECK(!files.FolderExists(utf8(root / L"file.txt")));
  CHECK(!files.FolderExists(""));

  const auto start = std::chrono::steady_clock::now();
  const std::string unreachable = "\\\\kestrine-no-such-host\\home$\\jdoe";
  CHECK(!files.FolderExists(unreachable));
  error = fileErrorOf([&] { files.CreateFolder(unreachable); });
  CHECK(error.has_value());
  if (error) std::printf("unreachable server: code %d, %s\n", error->code(), error->what());
  std::printf("unreachable server took %lld ms\n",
              static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                         std::chrono::steady_clock::now() - start)
                                         .count()));
}

void checkTextFiles(const fs::path& root) {
  Win32FileSystem files;
  const fs::path csv = root / L"users \u00FC.csv";
  writeFile(csv, "jdoe,x\r\nkroe\rlast\n\nend");
  CHECK_EQ(readLines(files, utf8(csv)), (Lines{"jdoe,x", "kroe", "last", "", "end"}));
  // The unparsed form of a path is a file too.
  CHECK_EQ(readLines(files, "\\\\?\\" + utf8(fs::absolute(csv))).size(), 5u);

  writeFile(csv, std::string("\xFF\xFEZ\0\xFC\0\r\0\n\0=\xD8\x00\xDE", 14));
  CHECK_EQ(readLines(files, utf8(csv)), (Lines{"Z\xC3\xBC", "\xF0\x9F\x98\x80"}));
  writeFile(csv, "\xEF\xBB\xBFZ\xC3\xBCrich\n");
  CHECK_EQ(readLines(files, utf8(csv)), Lines{"Z\xC3\xBCrich"});
  if (GetACP() == 1252) {
    writeFile(csv, "Z\xFCrich\n");
    CHECK_EQ(readLines(files, utf8(csv)), Lines{"Z\xC3\xBCrich"});
  }

  writeFile(csv, std::string(kMaxLineBytes + 1, 'y') + "\r\nnext");
  {
    auto stream = files.OpenTextFile(utf8(csv));
    CHECK(fileErrorOf([&] { stream->ReadLine(); }).has_value());
    CHECK_EQ(stream->ReadLine(), std::string("next"));
    CHECK(stream->AtEndOfStream());
    stream->Close();
    CHECK(fileErrorOf([&] { stream->ReadLine(); }).has_value());
    // Closed means the file is free again.
    const HANDLE exclusive = CreateFileW(csv.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                         FILE_ATTRIBUTE_NORMAL, nullptr);
    CHECK(exclusive != INVALID_HANDLE_VALUE);
    if (exclusive != INVALID_HANDLE_VALUE) CloseHandle(exclusive);
  }

  auto error = fileErrorOf([&] { files.OpenTextFile(utf8(root / L"none.csv")); });
  CHECK(error && error->code() == ENOENT);
  if (error) std::printf("missing: %s\n", error->what());

  // Held open by another program for writing and sharing reading: opens.
  const HANDLE writer = CreateFileW(csv.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  CHECK(writer != INVALID_HANDLE_VALUE);
  CHECK(!fileErrorOf([&] { files.OpenTextFile(utf8(csv)); }));
  CloseHandle(writer);
  const HANDLE locked =
      CreateFileW(csv.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  error = fileErrorOf([&] { files.OpenTextFile(utf8(csv)); });
  CHECK(error && error->code() == EBUSY);
  if (error) std::printf("locked: %s\n", error->what());
  CloseHandle(locked);
}

void checkTruncation(const fs::path& root) {
  Win32FileSystem files;
  const fs::path csv = root / L"big.csv";
  std::string text;
  for (int i = 0; text.size() < 300 * 1024; ++i) text += "user" + std::to_string(i) + ",x\n";
  writeFile(csv, text);
  auto stream = files.OpenTextFile(utf8(csv));
  CHECK_EQ(stream->ReadLine(), std::string("user0,x"));
  const HANDLE writer = CreateFileW(csv.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  CHECK(writer != INVALID_HANDLE_VALUE);
  LARGE_INTEGER four{};
  four.QuadPart = 4;
  CHECK(SetFilePointerEx(writer, four, nullptr, FILE_BEGIN) && SetEndOfFile(writer));
  CloseHandle(writer);
  const auto error = fileErrorOf([&] {
    while (!stream->AtEndOfStream()) stream->ReadLine();
  });
  CHECK(error && error->code() == EIO);
  if (error) std::printf("truncated: %s\n", error->what());
}

void checkOnlyDiskFilesOpen(const fs::path& root) {
  Win32FileSystem files;
  // A pipe server that nobody answers: opening its name must not wait on it.
  const wchar_t* pipeName = L"\\\\.\\pipe\\kestrine-self-check";
  const HANDLE server = CreateNamedPipeW(pipeName, PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_NOWAIT,
                                         1, 4096, 4096, 0, nullptr);
  CHECK(server != INVALID_HANDLE_VALUE);
  const std::vector<std::string> devices = {toUtf8(pipeName),
                                            "\\\\.\\pipe\\kestrine-none",
                                            "//./pipe/kestrine-self-check",
                                            "\\\\?\\pipe\\kestrine-self-check",
                                            "NUL",
                                            "CON",
                                            "COM1",
                                            "\\\\.\\C:",
                                            "\\\\.\\PhysicalDrive0"};
  for (const std::string& device : devices) {
    const auto start = std::chrono::steady_clock::now();
    const auto error = fileErrorOf([&] { files.OpenTextFile(device); });
    const auto took = std::chrono::steady_clock::now() - start;
    CHECK(error && std::string(error->what()) == "not a regular file");
    CHECK(took < std::chrono::seconds(2));
    if (!error || std::string(error->what()) != "not a regular file") {
      std::printf("  device %s: %s\n", device.c_str(), error ? error->what() : "opened");
    }
  }
  // The pipe saw no client.
  CHECK(!ConnectNamedPipe(server, nullptr) && GetLastError() == ERROR_PIPE_LISTENING);
  CloseHandle(server);

  const auto error = fileErrorOf([&] { files.OpenTextFile(utf8(root)); });
  CHECK(error && error->code() == EISDIR && std::string(error->what()) == "not a regular file");
  if (error) std::printf("folder: %s\n", error->what());
}

struct FakeComspec {
  fs::path out;
  std::wstring saved = environment(L"COMSPEC");

  FakeComspec(const fs::path& root, const std::wstring& mode, const fs::path& program = selfPath())
      : out(root / L"comspec.txt") {
    fs::remove(out);
    SetEnvironmentVariableW(L"COMSPEC", program.c_str());
    SetEnvironmentVariableW(L"KESTRINE_FAKE_COMSPEC", mode.c_str());
    SetEnvironmentVariableW(L"KESTRINE_FAKE_COMSPEC_OUT", out.c_str());
  }
  ~FakeComspec() {
    SetEnvironmentVariableW(L"COMSPEC", saved.c_str());
    SetEnvironmentVariableW(L"KESTRINE_FAKE_COMSPEC", nullptr);
    SetEnvironmentVariableW(L"KESTRINE_FAKE_COMSPEC_EXIT", nullptr);
  }
};

void checkCaclsShell(const fs::path& root) {
  const std::string administrators = administratorsGroupName();
  CHECK_EQ(administrators, std::string("Administrators"));

  const std::string folder =
      "\\\\fs1\\home$\\j\xC3\xBC"
      "rgen & co";
  {
    FakeComspec fake(root, L"record");
    CaclsShell shell;
    const GrantResult result = shell.grantFullControl(folder, "j\xC3\xBCrgen");
    CHECK_EQ(result.exitCode, 0);
    CHECK_EQ(result.reason, std::string());
    CHECK_EQ(readFile(fake.out), "\"" + toUtf8(selfPath()) + "\" /c Echo Y| cacls \"" + folder +
                                     "\" /t /c /g Administrators:f \"j\xC3\xBCrgen\":F\n1 " +
                                     std::to_string(SW_SHOWMINIMIZED));

    SetEnvironmentVariableW(L"KESTRINE_FAKE_COMSPEC_EXIT", L"1332");
    const GrantResult failed = CaclsShell("Administratoren").grantFullControl(folder, "jdoe");
    CHECK_EQ(failed.exitCode, 1332);
    CHECK(failed.reason.find("1332") != std::string::npos);
    CHECK(readFile(fake.out).find("/g Administratoren:f \"jdoe\":F") != std::string::npos);

    // Refused text starts nothing.
    fs::remove(fake.out);
    const GrantResult refused = shell.grantFullControl(folder, "j\"doe");
    CHECK(refused.exitCode != 0 && !refused.reason.empty());
    CHECK(!fs::exists(fake.out));
    const GrantResult refusedGroup = CaclsShell("Admin%x%").grantFullControl(folder, "jdoe");
    CHECK(refusedGroup.exitCode != 0);
    CHECK(!fs::exists(fake.out));
  }
  {
    // An interpreter whose path has blanks.
    const fs::path blanks = root / L"with blank" / L"fake cmd.exe";
    fs::create_directories(blanks.parent_path());
    fs::copy_file(selfPath(), blanks);
    FakeComspec fake(root, L"record", blanks);
    CHECK_EQ(CaclsShell().grantFullControl(folder, "jdoe").exitCode, 0);
    CHECK(readFile(fake.out).rfind("\"" + utf8(blanks) + "\" /c Echo", 0) == 0);
  }
  {
    FakeComspec fake(root, L"hang");
    const auto start = std::chrono::steady_clock::now();
    const GrantResult hung =
        CaclsShell("Administrators", std::chrono::milliseconds(1500)).grantFullControl(folder, "x");
    const auto took = std::chrono::steady_clock::now() - start;
    CHECK_EQ(hung.exitCode, static_cast<int>(ERROR_TIMEOUT));
    CHECK(hung.reason.find("1500 ms") != std::string::npos);
    CHECK(took < std::chrono::seconds(10));
    std::printf("hung: %s\n", hung.reason.c_str());
    // What it started is gone with it.
    const DWORD grandchild = std::strtoul(readFile(fake.out).c_str(), nullptr, 10);
    CHECK(grandchild != 0);
    const HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, grandchild);
    CHECK(!process || WaitForSingleObject(process, 5000) == WAIT_OBJECT_0);
    if (process) CloseHandle(process);
  }
  {
    FakeComspec fake(root, L"record", root / L"no-such-cmd.exe");
    const GrantResult missing = CaclsShell().grantFullControl(folder, "x");
    CHECK_EQ(missing.exitCode, static_cast<int>(ERROR_FILE_NOT_FOUND));
    CHECK(missing.reason.find("start ") == 0);
    std::printf("no interpreter: %s\n", missing.reason.c_str());
    SetEnvironmentVariableW(L"COMSPEC", nullptr);
    const GrantResult unset = CaclsShell().grantFullControl(folder, "x");
    CHECK_EQ(unset.exitCode, static_cast<int>(ERROR_ENVVAR_NOT_FOUND));
  }
  {
    // The real cmd.exe and cacls of the system, on a local folder.
    const fs::path target = root / L"granted";
    fs::create_directory(target);
    const GrantResult real = CaclsShell().grantFullControl(utf8(target), "Administrators");
    std::printf("real cmd.exe and cacls: exit code %d %s\n", real.exitCode, real.reason.c_str());
  }
}

}  // namespace

int main() {
  const std::wstring mode = environment(L"KESTRINE_FAKE_COMSPEC");
  if (!mode.empty()) return fakeComspec(mode);

  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const fs::path root =
      fs::path(temp) / (L"kestrine-check-" + std::to_wstring(GetCurrentProcessId()));
  std::error_code ignored;
  fs::remove_all(root, ignored);  // left by a run that was killed
  fs::create_directories(root);
  try {
    checkWideText();
    checkCodePages();
    checkFolders(root);
    checkTextFiles(root);
    checkTruncation(root);
    checkOnlyDiskFilesOpen(root);
    checkCaclsShell(root);
  } catch (const std::exception& e) {
    ++failures;
    std::printf("FAILED: unexpected exception: %s\n", e.what());
  }
  fs::remove_all(root, ignored);
  std::printf("%d checks, %d failed\n", checks, failures);
  return failures == 0 ? 0 : 1;
}
