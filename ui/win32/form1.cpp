#include "ui/win32/form1.h"

#include <array>
#include <cwctype>

#include "platform/win32/wide_text.h"
#include "ui/win32/program_end.h"

namespace kestrine::win32 {

namespace {

// The file list's entries: files that are neither hidden nor system files.
constexpr UINT kFileTypes = DDL_READWRITE | DDL_READONLY | DDL_ARCHIVE;
// The directory list's: sub-directories only, with "[..]" above them.
constexpr UINT kDirectoryTypes = DDL_DIRECTORY | DDL_EXCLUSIVE;

// The absolute form of `path`, relative to `base`, without a trailing
// backslash except at a drive's root ("c:\").
std::wstring absolutePath(const std::wstring& base, const std::wstring& path) {
  std::wstring joined = path;
  const bool absolute =
      path.size() >= 2 && (path[1] == L':' || (path[0] == L'\\' && path[1] == L'\\'));
  if (!absolute && !base.empty()) {
    joined = base + (base.back() == L'\\' ? L"" : L"\\") + path;
  }
  std::array<wchar_t, MAX_PATH> full{};
  const DWORD length = GetFullPathNameW(joined.c_str(), full.size(), full.data(), nullptr);
  if (length == 0 || length >= full.size()) return {};
  std::wstring result(full.data(), length);
  while (result.size() > 3 && result.back() == L'\\') result.pop_back();
  return result;
}

// Whether the lists can show `directory`: it exists and can be read.
bool canList(const std::wstring& directory) {
  const DWORD attributes = GetFileAttributesW(directory.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return false;
  }
  WIN32_FIND_DATAW entry{};
  const std::wstring pattern = directory + (directory.back() == L'\\' ? L"*" : L"\\*");
  HANDLE find = FindFirstFileW(pattern.c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;  // empty
  FindClose(find);
  return true;
}

// DlgDirList* make the folder they list the process's current directory. It
// is put back, so that nothing the program does depends on where the
// administrator browsed: a program that a relative name could reach there
// (a file beside the CSV file on a shared folder) is never found through it.
class KeepCurrentDirectory {
 public:
  KeepCurrentDirectory() {
    saved_.resize(GetCurrentDirectoryW(0, nullptr));
    const DWORD length = GetCurrentDirectoryW(static_cast<DWORD>(saved_.size()), saved_.data());
    saved_.resize(length < saved_.size() ? length : 0);
  }
  ~KeepCurrentDirectory() {
    if (!saved_.empty()) SetCurrentDirectoryW(saved_.c_str());
  }
  KeepCurrentDirectory(const KeepCurrentDirectory&) = delete;
  KeepCurrentDirectory& operator=(const KeepCurrentDirectory&) = delete;

 private:
  std::wstring saved_;
};

// Lists `directory`'s entries that match `pattern` into the list box `id`.
// DlgDirListW takes (and rewrites) one buffer with the directory and pattern.
bool listInto(HWND window, int id, const std::wstring& directory, const wchar_t* pattern,
              UINT types) {
  std::wstring searched = directory + (directory.back() == L'\\' ? L"" : L"\\") + pattern;
  if (searched.size() >= MAX_PATH) return false;
  std::array<wchar_t, MAX_PATH> buffer{};
  searched.copy(buffer.data(), searched.size());
  const KeepCurrentDirectory kept;
  return DlgDirListW(window, buffer.data(), id, 0, types) != 0;
}

// The drive of the system directory, as the drive list writes it ("[-c-]").
std::wstring defaultDriveEntry() {
  std::array<wchar_t, MAX_PATH> system{};
  const UINT length = GetSystemDirectoryW(system.data(), system.size());
  const wchar_t letter = length > 0 ? static_cast<wchar_t>(std::towlower(system[0])) : L'c';
  return std::wstring(L"[-") + letter + L"-]";
}

}  // namespace

Form1::Form1(std::function<void()> importRun, const std::wstring& startDirectory)
    : PictureWindow(kForm1), importRun_(std::move(importRun)) {
  std::array<wchar_t, 2> everything{L"*"};
  {
    const KeepCurrentDirectory kept;
    DlgDirListComboBoxW(hwnd(), everything.data(), controlId("drvTest"), 0,
                        DDL_DRIVES | DDL_EXCLUSIVE);
  }
  const std::wstring entry = defaultDriveEntry();
  drive_ = static_cast<int>(SendMessageW(drvTest(), CB_SELECTSTRING, static_cast<WPARAM>(-1),
                                         reinterpret_cast<LPARAM>(entry.c_str())));
  formLoad(startDirectory);
}

std::wstring Form1::drvTestDrive() const {
  std::array<wchar_t, MAX_PATH> drive{};
  DlgDirSelectComboBoxExW(hwnd(), drive.data(), drive.size(), controlId("drvTest"));
  std::wstring root = drive.data();  // "d:"
  if (!root.empty() && root.back() != L'\\') root += L'\\';
  return root;
}

std::wstring Form1::filTestFileName() const {
  if (SendMessageW(filTest(), LB_GETCURSEL, 0, 0) == LB_ERR) return {};
  std::array<wchar_t, MAX_PATH> name{};
  DlgDirSelectExW(hwnd(), name.data(), name.size(), controlId("filTest"));
  return name.data();
}

bool Form1::setDirTestPath(const std::wstring& path) {
  const std::wstring directory = absolutePath(dirPath_, path);
  if (directory.empty() || !canList(directory) ||
      !listInto(hwnd(), controlId("dirTest"), directory, L"*.*", kDirectoryTypes)) {
    return false;
  }
  const bool changed = directory != dirPath_;
  dirPath_ = directory;
  if (changed) dirTestChange();
  return true;
}

bool Form1::setFilTestPath(const std::wstring& path) {
  const std::wstring directory = absolutePath(filPath_, path);
  const std::wstring pattern = toWide(controlOf(kForm1, "filTest").pattern);
  if (directory.empty() || !canList(directory) ||
      !listInto(hwnd(), controlId("filTest"), directory, pattern.c_str(), kFileTypes)) {
    return false;
  }
  filPath_ = directory;
  return true;
}

void Form1::command(const ControlDescription& control, HWND, int notification) {
  const std::string_view name = control.name;
  if (name == "drvTest" && notification == CBN_SELCHANGE) drvTestChange();
  if (name == "dirTest" && notification == LBN_DBLCLK) dirTestOpenSelected();
  if (name == "filTest" && notification == LBN_SELCHANGE) filTestClick();
  if (name == "Command1" && notification == BN_CLICKED) importRun_();
  if (name == "Command2" && notification == BN_CLICKED) endProgram();
}

bool Form1::returnPressed(HWND focus) {
  if (focus == dirTest()) {
    dirTestOpenSelected();
    return true;
  }
  return PictureWindow::returnPressed(focus);
}

void Form1::formLoad(const std::wstring& startDirectory) {
  setDirTestPath(startDirectory);
}

void Form1::dirTestChange() {
  setFilTestPath(dirPath_);
}

void Form1::drvTestChange() {
  const std::wstring drive = drvTestDrive();
  const bool listed = setDirTestPath(drive);
  setFilTestPath(drive);
  // A drive that cannot be read: the drive list goes back to the drive it had.
  if (listed) {
    drive_ = static_cast<int>(SendMessageW(drvTest(), CB_GETCURSEL, 0, 0));
  } else {
    SendMessageW(drvTest(), CB_SETCURSEL, static_cast<WPARAM>(drive_), 0);
  }
}

void Form1::filTestClick() {
  // Joined as they are: at a drive's root this gives "c:\\users.csv".
  const std::wstring text = filPath_ + L"\\" + filTestFileName();
  SetWindowTextW(FilePath(), text.c_str());
}

void Form1::dirTestOpenSelected() {
  if (SendMessageW(dirTest(), LB_GETCURSEL, 0, 0) == LB_ERR) return;
  std::array<wchar_t, MAX_PATH> entry{};
  // "name\" or "..\" for a directory entry.
  if (DlgDirSelectExW(hwnd(), entry.data(), entry.size(), controlId("dirTest"))) {
    setDirTestPath(entry.data());
  }
}

}  // namespace kestrine::win32
