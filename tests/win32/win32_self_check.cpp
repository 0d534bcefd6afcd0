// Checks of the Win32 file layer and the grant, run under Wine or on Windows:
// tests/win32/self_check.sh runs it with a home folder that holds a symbolic
// link pointing up, which no Windows call under Wine can make.

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <sddl.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/grant/full_control_grant.h"
#include "platform/win32/io_deadline.h"
#include "platform/win32/wide_text.h"
#include "platform/win32/win32_file_server.h"
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

void writeFile(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
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

// What a file call's Windows error says of its server: no answer in time, a
// lost connection, or an answer; and the errno a failure carries.
void checkServerErrors() {
  const struct {
    DWORD error;
    int code;
    Reply reply;
  } cases[] = {
      {ERROR_SEM_TIMEOUT, ETIMEDOUT, Reply::kNoAnswer},        // the SMB client gave up waiting
      {ERROR_OPERATION_ABORTED, ETIMEDOUT, Reply::kNoAnswer},  // cancelled at the deadline
      {ERROR_NETNAME_DELETED, ECONNRESET, Reply::kLost},
      {ERROR_UNEXP_NET_ERR, ECONNRESET, Reply::kLost},
      {ERROR_VC_DISCONNECTED, ECONNRESET, Reply::kLost},
      {ERROR_CONNECTION_ABORTED, ECONNRESET, Reply::kLost},
      {ERROR_NETWORK_UNREACHABLE, ENETUNREACH, Reply::kAnswered},
      {ERROR_BAD_NETPATH, ENOENT, Reply::kAnswered},
      {ERROR_ACCESS_DENIED, EACCES, Reply::kAnswered},
  };
  for (const auto& c : cases) {
    const std::string what = " for Windows error " + std::to_string(c.error);
    check(errnoForWindowsError(c.error) == c.code, "errno", __LINE__, what);
    check(replyToWindowsError(c.error) == c.reply, "reply", __LINE__, what);
  }
}

// A read that nothing answers is cancelled at its deadline, and nothing
// after the deadline is disarmed.
void checkDeadline() {
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  CHECK(CreatePipe(&readEnd, &writeEnd, nullptr, 0));
  const HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  // Should the cancel not come, a byte ends the read after 10 s.
  std::thread rescue([&] {
    DWORD wrote = 0;
    if (WaitForSingleObject(done, 10'000) == WAIT_TIMEOUT)
      WriteFile(writeEnd, "x", 1, &wrote, nullptr);
  });
  IoDeadline deadline;
  const auto started = std::chrono::steady_clock::now();
  deadline.arm(started + std::chrono::milliseconds(300));
  char byte = 0;
  DWORD got = 0;
  const bool read = ReadFile(readEnd, &byte, 1, &got, nullptr);
  const DWORD error = read ? ERROR_SUCCESS : GetLastError();
  const bool overdue = deadline.overdue();
  deadline.disarm();
  const auto took = std::chrono::steady_clock::now() - started;
  SetEvent(done);
  rescue.join();
  CHECK(!read && error == ERROR_OPERATION_ABORTED);
  CHECK(overdue);
  CHECK(took < std::chrono::seconds(5));
  std::printf(
      "deadline: read cancelled after %lld ms\n",
      static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
  DWORD wrote = 0;
  WriteFile(writeEnd, "y", 1, &wrote, nullptr);
  Sleep(400);  // past the old deadline: the watcher has nothing to cancel
  CHECK(ReadFile(readEnd, &byte, 1, &got, nullptr) && byte == 'y');
  CloseHandle(done);
  CloseHandle(readEnd);
  CloseHandle(writeEnd);
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

// The real share access, with every call it is given written down by its
// path below the top folder.
class RecordedShare : public FileServer {
 public:
  RecordedShare(std::shared_ptr<Win32FileServer> real, std::string top)
      : real_(std::move(real)), top_(std::move(top)) {}

  bool isFolder(const std::string& path) override { return real_->isFolder(path); }
  bool createFolder(const std::string& path, const std::string& accountSid) override {
    return real_->createFolder(path, accountSid);
  }
  bool createdJustNow(const std::string& folder) const override {
    return real_->createdJustNow(folder);
  }
  bool createdGrantingTo(const std::string& folder, const std::string& accountSid) const override {
    return real_->createdGrantingTo(folder, accountSid);
  }
  std::vector<std::string> grantees(const std::string& path) override {
    calls.push_back("grantees " + below(path));
    return real_->grantees(path);
  }
  Listing list(const std::string& folder) override {
    calls.push_back("list " + below(folder));
    return real_->list(folder);
  }
  void setFullControl(const std::string& path, const FullControl& grant) override {
    calls.push_back("grant " + below(path) + (grant.folder ? " folder" : " file"));
    real_->setFullControl(path, grant);
  }

  Lines calls;

 private:
  std::string below(const std::string& path) const { return "." + path.substr(top_.size()); }

  std::shared_ptr<Win32FileServer> real_;
  std::string top_;
};

constexpr const char* kAccountSid = "S-1-5-21-1004336348-1177238915-682003330-1104";

std::string sddlOf(const LocalMemory& descriptor) {
  wchar_t* text = nullptr;
  if (!ConvertSecurityDescriptorToStringSecurityDescriptorW(
          descriptor.get(), SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
          &text, nullptr)) {
    return "none";
  }
  const std::unique_ptr<wchar_t, LocalFreer> owned(text);
  return toUtf8(text);
}

// What SetSecurityInfo is given, read back before it is applied: under Wine
// it accepts an access list and keeps none.
void checkAccessLists() {
  const std::string sid = kAccountSid;
  CHECK_EQ(sddlOf(fullControlDescriptor(sid, true)),
           "D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;" + sid + ")");
  CHECK_EQ(sddlOf(fullControlDescriptor(sid, false)), "D:P(A;;FA;;;BA)(A;;FA;;;" + sid + ")");
  CHECK_EQ(sddlOf(fullControlDescriptor(sid, false, true)),
           "O:BAD:P(A;;FA;;;BA)(A;;FA;;;" + sid + ")");
  for (const std::string bad : {"WD", "S-1-5-21-1)(A;OICI;FA;;;WD", "s-1-5-32-544", "jdoe", ""}) {
    bool refused = false;
    try {
      fullControlDescriptor(bad, true);
    } catch (const PlatformError& e) {
      refused = std::string(e.what()).find("is no security identifier") != std::string::npos;
    }
    check(refused, "a SID in another form is refused", __LINE__, ": " + bad);
  }
}

// The walk below an existing folder on the local disk, by the calls it makes:
// files, folders, a symbolic link that points up (Wine shows a Unix link to a
// folder as a reparse point), a folder that refuses to be listed, a chain
// deeper than the walk goes; and a new folder, of which only itself is set.
void checkGrantWalk(const fs::path& root, const fs::path& home) {
  auto server = std::make_shared<Win32FileServer>();
  const std::string fresh = utf8(root / L"fresh");
  CHECK(server->createFolder(fresh, ""));
  auto freshCalls = std::make_shared<RecordedShare>(server, fresh);
  CHECK_EQ(FullControlGrant(freshCalls).grantFullControl(fresh, kAccountSid, false).exitCode, 0);
  CHECK_EQ(freshCalls->calls, Lines{"grant . folder"});
  CHECK(!server->createFolder(fresh, ""));  // there already: nothing changed
  // Made with its access list in the same call: the grant has nothing to do.
  const std::string madeGranted = utf8(root / L"granted");
  CHECK(server->createFolder(madeGranted, kAccountSid));
  auto grantedCalls = std::make_shared<RecordedShare>(server, madeGranted);
  CHECK_EQ(
      FullControlGrant(grantedCalls).grantFullControl(madeGranted, kAccountSid, false).exitCode, 0);
  CHECK_EQ(grantedCalls->calls, Lines{});

  writeFile(home / L"notes.txt", "x");
  writeFile(home / L"sub" / L"a.txt", "x");
  fs::create_directories(home / L"held");
  writeFile(home / L"held" / L"x.txt", "x");
  Lines expected = {"grant . folder", "grant .\\notes.txt file", "grant .\\sub folder",
                    "grant .\\sub\\a.txt file"};
  fs::path deep = home;
  std::string below = ".";
  for (int level = 1; level <= kMaxFolderDepth + 2; ++level) {
    deep /= L"d";
    below += "\\d";
    fs::create_directory(deep);
    writeFile(deep / L"f.txt", "x");
    if (level <= kMaxFolderDepth) expected.push_back("grant " + below + " folder");
    if (level < kMaxFolderDepth) expected.push_back("grant " + below + "\\f.txt file");
  }
  // Held open without sharing: the walk cannot list it, and goes on.
  const HANDLE held = CreateFileW((home / L"held").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  CHECK(held != INVALID_HANDLE_VALUE);

  const std::string top = utf8(home);
  auto share = std::make_shared<RecordedShare>(server, top);
  const GrantResult result = FullControlGrant(share).grantFullControl(top, kAccountSid, false);
  Lines granted;
  std::copy_if(share->calls.begin(), share->calls.end(), std::back_inserter(granted),
               [](const std::string& call) { return call.starts_with("grant "); });
  std::sort(granted.begin(), granted.end());
  std::sort(expected.begin(), expected.end());
  CHECK_EQ(granted, expected);
  CHECK(std::find_if(share->calls.begin(), share->calls.end(), [](const std::string& call) {
          return call.find("\\up") != std::string::npos;
        }) == share->calls.end());
  // The link, the folder that refused and the depth limit, in the order met.
  CHECK(result.exitCode == ELOOP || result.exitCode == ERROR_SHARING_VIOLATION);
  CHECK(result.reason.find(" (and 2 more below " + top + ")") != std::string::npos);
  std::printf("walk: %s\n", result.reason.c_str());

  // The failure as the run reports it, with the Windows error code.
  try {
    server->list(utf8(home / L"held"));
    check(false, "a folder held open without sharing is listed", __LINE__);
  } catch (const PlatformError& e) {
    CHECK_EQ(e.code(), static_cast<int>(ERROR_SHARING_VIOLATION));
    CHECK_EQ(std::string(e.what()).rfind("list " + utf8(home / L"held") + ": ", 0), 0u);
    CHECK(std::string(e.what()).ends_with(" (Windows error 32)"));
    std::printf("refused: %s\n", e.what());
  }
  CloseHandle(held);
  const std::string sub = utf8(home / L"sub");
  const GrantResult link = FullControlGrant(share).grantFullControl(sub, kAccountSid, false);
  CHECK_EQ(link.exitCode, ELOOP);
  CHECK_EQ(link.reason, sub + ": junctions and links are not followed; left unchanged: up");

  // The check on the set's own handle: a file whose ID is not the one its
  // listing gave. (Wine opens what a Unix link points at even with
  // FILE_FLAG_OPEN_REPARSE_POINT, so the link itself shows nothing there.)
  const auto refusal = [&](const std::string& path, const FileServer::FullControl& grant) {
    const auto error = fileErrorOf([&] { server->setFullControl(path, grant); });
    return error && error->code() == ELOOP ? std::string(error->what()) : std::string("set");
  };
  std::uint64_t listed = 0;
  for (const auto& entry : server->list(top).entries) {
    if (entry.name == "notes.txt") listed = entry.id;
  }
  CHECK(knownFileId(listed));
  const std::string notes = top + "\\notes.txt";
  CHECK(
      refusal(notes, {kAccountSid, false, listed + 1})
          .ends_with(
              ": another object than the one listed under that name (put in its place since); left "
              "unchanged"));
  CHECK_EQ(refusal(notes, {kAccountSid, false, listed}), std::string("set"));
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::printf("usage: win32_self_check HOME-FOLDER-WITH-sub\\up\n");
    return 2;
  }
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const fs::path root =
      fs::path(temp) / (L"kestrine-check-" + std::to_wstring(GetCurrentProcessId()));
  std::error_code ignored;
  fs::remove_all(root, ignored);  // left by a run that was killed
  fs::create_directories(root);
  try {
    checkWideText();
    checkServerErrors();
    checkDeadline();
    checkCodePages();
    checkFolders(root);
    checkTextFiles(root);
    checkTruncation(root);
    checkOnlyDiskFilesOpen(root);
    checkAccessLists();
    checkGrantWalk(root, argv[1]);
  } catch (const std::exception& e) {
    ++failures;
    std::printf("FAILED: unexpected exception: %s\n", e.what());
  }
  fs::remove_all(root, ignored);
  std::printf("%d checks, %d failed\n", checks, failures);
  return failures == 0 ? 0 : 1;
}
