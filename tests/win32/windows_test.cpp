// The Win32 windows under Wine: places, fonts, styles and pictures against the
// description, the keyboard, the file picker's lists on a real disk, and a run
// through the windows with the directory and files faked.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/threads/call_thread.h"
#include "platform/win32/wide_text.h"
#include "tests/fakes/fakes.h"
#include "ui/win32/complete.h"
#include "ui/win32/desktop_pump.h"
#include "ui/win32/form1.h"
#include "ui/win32/forms.h"
#include "ui/win32/loading.h"

namespace kestrine::win32 {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::Not;

struct Control {
  const char* window;
  const char* name;
  RECT pixels;     // left, top, right, bottom in the window's client area
  int fontHeight;  // character height at 96 dpi; 0: no font of its own
  int weight;
};

// Worked out by hand from the twips, each edge rounded to the nearest pixel.
const Control kControls[] = {
    {"Form1", "lblCreateUsers", {8, 2, 233, 19}, 12, 700},
    {"Form1", "lblSelectCSV", {8, 32, 433, 49}, 11, 400},
    {"Form1", "drvTest", {8, 56, 209, 77}, 11, 400},
    {"Form1", "dirTest", {8, 88, 209, 244}, 11, 400},
    {"Form1", "filTest", {216, 88, 425, 237}, 11, 400},
    {"Form1", "FilePath", {8, 260, 425, 281}, 12, 400},
    {"Form1", "Command1", {8, 288, 66, 309}, 0, 0},
    {"Form1", "Command2", {376, 288, 434, 309}, 0, 0},
    {"Loading", "lblLoading", {8, 24, 385, 41}, 13, 700},
    {"Loading", "lblStep", {8, 0, 145, 17}, 9, 700},
    {"Complete", "lblComplete", {0, 24, 401, 49}, 11, 400},  // 8 px past the right edge
    {"Complete", "Finish", {168, 48, 226, 71}, 0, 0},
};

std::wstring textOf(HWND hwnd) {
  std::array<wchar_t, 1024> text{};
  GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()));
  return text.data();
}

std::vector<std::wstring> listEntries(HWND list, bool combo = false) {
  std::vector<std::wstring> entries;
  const auto count = SendMessageW(list, combo ? CB_GETCOUNT : LB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    std::array<wchar_t, MAX_PATH> entry{};
    SendMessageW(list, combo ? CB_GETLBTEXT : LB_GETTEXT, static_cast<WPARAM>(i),
                 reinterpret_cast<LPARAM>(entry.data()));
    entries.emplace_back(entry.data());
  }
  return entries;
}

// A list's notification, as the user's click or double-click sends it.
void notify(PictureWindow& window, HWND control, int code) {
  SendMessageW(window.hwnd(), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(control), code),
               reinterpret_cast<LPARAM>(control));
}

void selectEntry(HWND list, const wchar_t* entry, bool combo = false) {
  const auto index = SendMessageW(list, combo ? CB_FINDSTRINGEXACT : LB_FINDSTRINGEXACT,
                                  static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(entry));
  ASSERT_GE(index, 0) << toUtf8(entry);
  SendMessageW(list, combo ? CB_SETCURSEL : LB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

// A key pressed while the focus is where it is, through the program's own
// keyboard handling; Shift held in the thread's key state when asked.
void pressKey(WPARAM key, bool shift = false) {
  std::array<BYTE, 256> keys{};
  GetKeyboardState(keys.data());
  keys[VK_SHIFT] = shift ? 0x80 : 0;
  SetKeyboardState(keys.data());
  MSG message{GetFocus(), WM_KEYDOWN, key, 1, 0, {}};
  if (!PictureWindow::translateKey(message)) DispatchMessageW(&message);
  keys[VK_SHIFT] = 0;
  SetKeyboardState(keys.data());
}

class WindowsTest : public ::testing::Test {
 protected:
  PictureWindow& window(std::string_view name) {
    if (name == "Form1") return forms_.form1();
    if (name == "Loading") return forms_.loading();
    return forms_.complete();
  }

  testing::CallLog log_;
  testing::FakeDirectory directory_{log_};
  testing::FakeFileSystem files_{log_};
  Forms forms_{directory_, files_};
};

TEST_F(WindowsTest, ControlsSitWhereTheirTwipsSayInVerdana) {
  for (const Control& c : kControls) {
    SCOPED_TRACE(c.name);
    PictureWindow& w = window(c.window);
    HWND control = w.control(c.name);
    ASSERT_NE(control, nullptr);
    RECT place{};
    GetWindowRect(control, &place);
    MapWindowPoints(nullptr, w.hwnd(), reinterpret_cast<POINT*>(&place), 2);
    EXPECT_EQ(place.left, c.pixels.left);
    EXPECT_EQ(place.top, c.pixels.top);
    EXPECT_EQ(place.right, c.pixels.right);
    EXPECT_EQ(place.bottom, c.pixels.bottom);

    if (c.fontHeight == 0) continue;
    LOGFONTW font{};
    ASSERT_TRUE(GetObjectW(reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)),
                           sizeof font, &font));
    EXPECT_EQ(std::wstring(font.lfFaceName), L"Verdana");
    EXPECT_EQ(font.lfHeight, -c.fontHeight);
    EXPECT_EQ(font.lfWeight, c.weight);
    EXPECT_EQ(font.lfCharSet, DEFAULT_CHARSET);
    EXPECT_FALSE(font.lfItalic || font.lfUnderline || font.lfStrikeOut);
  }
}

TEST_F(WindowsTest, WindowsAreBorderlessPopupsOfTheirSizeCentredWhenShown) {
  struct Expected {
    const char* name;
    const wchar_t* caption;
    int width, height;
    bool taskbar;
  };
  for (const Expected& e : {Expected{"Form1", L"Kestrine", 443, 320, false},
                            Expected{"Loading", L"Working...", 394, 67, true},
                            Expected{"Complete", L"Dialog Caption", 393, 82, false}}) {
    SCOPED_TRACE(e.name);
    HWND hwnd = window(e.name).hwnd();
    EXPECT_EQ(textOf(hwnd), e.caption);
    const LONG_PTR style = GetWindowLongPtrW(hwnd, GWL_STYLE);
    const LONG_PTR exStyle = GetWindowLongPtrW(hwnd, GWL_EXSTYLE);
    EXPECT_TRUE(style & WS_POPUP);
    EXPECT_FALSE(style & (WS_CAPTION | WS_THICKFRAME | WS_SYSMENU | WS_MINIMIZEBOX));
    EXPECT_EQ((exStyle & WS_EX_TOOLWINDOW) != 0, !e.taskbar);
    EXPECT_EQ((exStyle & WS_EX_APPWINDOW) != 0, e.taskbar);
    EXPECT_FALSE(IsWindowVisible(hwnd));
    EXPECT_EQ(GetWindow(hwnd, GW_OWNER), nullptr);

    RECT client{};
    GetClientRect(hwnd, &client);
    EXPECT_EQ(client.right, e.width);
    EXPECT_EQ(client.bottom, e.height);
    window(e.name).show();
    EXPECT_TRUE(IsWindowVisible(hwnd));
    RECT place{};
    GetWindowRect(hwnd, &place);
    EXPECT_LE(std::abs(place.left + place.right - GetSystemMetrics(SM_CXSCREEN)), 1);
    EXPECT_LE(std::abs(place.top + place.bottom - GetSystemMetrics(SM_CYSCREEN)), 1);
    // A close request is ignored: only the program end ends the program.
    SendMessageW(hwnd, WM_CLOSE, 0, 0);
    EXPECT_TRUE(IsWindow(hwnd) && IsWindowVisible(hwnd));
    window(e.name).hide();
  }
  EXPECT_NE(SendMessageW(forms_.form1().hwnd(), WM_GETICON, ICON_BIG, 0), 0);
  EXPECT_NE(SendMessageW(forms_.form1().hwnd(), WM_GETICON, ICON_SMALL, 0), 0);
  EXPECT_EQ(SendMessageW(forms_.loading().hwnd(), WM_GETICON, ICON_BIG, 0), 0);
}

// The picture shows through the labels around their letters; the buttons show
// their faces.
TEST_F(WindowsTest, PicturesShowUnscaledAndThroughTheLabels) {
  Complete& complete = forms_.complete();
  SetWindowTextW(complete.lblComplete(), L"3 Users and Folders were added successfully!");
  complete.show();
  HDC dc = GetDC(complete.hwnd());
  HBITMAP picture = static_cast<HBITMAP>(
      LoadImageW(GetModuleHandleW(nullptr), L"complete", IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
  ASSERT_NE(picture, nullptr);
  HDC source = CreateCompatibleDC(dc);
  SelectObject(source, picture);
  // Corners, and the edge of lblComplete's band where no letter reaches.
  for (POINT p : {POINT{2, 2}, POINT{390, 80}, POINT{2, 30}, POINT{390, 30}}) {
    EXPECT_EQ(GetPixel(dc, p.x, p.y), GetPixel(source, p.x, p.y)) << p.x << "," << p.y;
  }
  // Light text on the navy band, around the middle of the label.
  int light = 0;
  for (int x = 100; x < 300; ++x) {
    for (int y = 24; y < 40; ++y) {
      const COLORREF pixel = GetPixel(dc, x, y);
      if (pixel != GetPixel(source, x, y) && GetRValue(pixel) > 150) ++light;
    }
  }
  EXPECT_GT(light, 50);
  // The Done face: blue under its white word.
  const COLORREF face = GetPixel(dc, 168 + 29, 48 + 4);
  EXPECT_GT(GetBValue(face), GetRValue(face) + 60);
  DeleteDC(source);
  DeleteObject(picture);
  ReleaseDC(complete.hwnd(), dc);
}

TEST_F(WindowsTest, FocusStartsInFilePathAndTabCyclesInTabIndexOrder) {
  Form1& form = forms_.form1();
  form.show();
  ASSERT_EQ(GetFocus(), form.FilePath());
  std::vector<HWND> visited;
  for (int i = 0; i < 6; ++i) {
    pressKey(VK_TAB);
    visited.push_back(GetFocus());
  }
  EXPECT_THAT(visited, ElementsAre(form.Command2(), form.drvTest(), form.dirTest(), form.filTest(),
                                   form.Command1(), form.FilePath()));
  pressKey(VK_TAB, true);
  EXPECT_EQ(GetFocus(), form.Command1());

  forms_.complete().show();
  EXPECT_EQ(GetFocus(), forms_.complete().Finish());
}

// The lists on the Wine prefix's drive c: and its root z:.
class FilePickerTest : public WindowsTest {
 protected:
  void SetUp() override {
    CreateDirectoryW(L"c:\\kestrine picker", nullptr);
    for (const wchar_t* name : {L"c:\\kestrine-a.csv", L"c:\\KESTRINE-B.CSV", L"c:\\kestrine-c.txt",
                                L"c:\\kestrine-d.csv.bak", L"c:\\kestrine picker\\users.csv"}) {
      std::ofstream(std::filesystem::path(name)) << "x\n";
    }
  }
  void TearDown() override {
    for (const wchar_t* name : {L"c:\\kestrine-a.csv", L"c:\\KESTRINE-B.CSV", L"c:\\kestrine-c.txt",
                                L"c:\\kestrine-d.csv.bak", L"c:\\kestrine picker\\users.csv"}) {
      DeleteFileW(name);
    }
    RemoveDirectoryW(L"c:\\kestrine picker");
  }
};

TEST_F(FilePickerTest, StartsAtTheRootOfCWithOnlyCsvFilesAndAnEmptyPath) {
  Form1& form = forms_.form1();
  EXPECT_EQ(form.dirTestPath(), L"c:\\");
  EXPECT_EQ(form.filTestPath(), L"c:\\");
  const auto files = listEntries(form.filTest());
  EXPECT_THAT(files, Contains(L"kestrine-a.csv"));
  EXPECT_THAT(files, Contains(::testing::StrCaseEq(L"KESTRINE-B.CSV")));
  EXPECT_THAT(files, Not(Contains(L"kestrine-c.txt")));
  EXPECT_THAT(files, Not(Contains(L"kestrine-d.csv.bak")));
  EXPECT_THAT(listEntries(form.dirTest()), Contains(L"[kestrine picker]"));
  EXPECT_THAT(listEntries(form.drvTest(), true), Contains(L"[-c-]"));
  EXPECT_EQ(form.drvTestDrive(), L"c:\\");
  EXPECT_EQ(textOf(form.FilePath()), L"");
}

std::wstring currentDirectory() {
  std::array<wchar_t, MAX_PATH> directory{};
  GetCurrentDirectoryW(static_cast<DWORD>(directory.size()), directory.data());
  return directory.data();
}

TEST_F(FilePickerTest, AFileClickJoinsTheListedDirectoryABackslashAndTheName) {
  const std::wstring started = currentDirectory();
  Form1& form = forms_.form1();
  selectEntry(form.filTest(), L"kestrine-a.csv");
  notify(form, form.filTest(), LBN_SELCHANGE);
  EXPECT_EQ(textOf(form.FilePath()), L"c:\\\\kestrine-a.csv");  // at the root: two

  // Opening a directory re-lists the files; the path stays until a click.
  selectEntry(form.dirTest(), L"[kestrine picker]");
  notify(form, form.dirTest(), LBN_DBLCLK);
  EXPECT_EQ(form.dirTestPath(), L"c:\\kestrine picker");
  EXPECT_EQ(currentDirectory(), started);  // the lists leave it where it was
  EXPECT_THAT(listEntries(form.filTest()), ElementsAre(L"users.csv"));
  EXPECT_EQ(textOf(form.FilePath()), L"c:\\\\kestrine-a.csv");
  selectEntry(form.filTest(), L"users.csv");
  notify(form, form.filTest(), LBN_SELCHANGE);
  EXPECT_EQ(textOf(form.FilePath()), L"c:\\kestrine picker\\users.csv");

  // Return on "[..]" goes back up.
  selectEntry(form.dirTest(), L"[..]");
  SetFocus(form.dirTest());
  pressKey(VK_RETURN);
  EXPECT_EQ(form.dirTestPath(), L"c:\\");
}

TEST_F(FilePickerTest, ADriveChangeMovesBothListsButNotThePath) {
  Form1& form = forms_.form1();
  SetWindowTextW(form.FilePath(), L"typed.csv");
  selectEntry(form.drvTest(), L"[-z-]", true);
  notify(form, form.drvTest(), CBN_SELCHANGE);
  EXPECT_EQ(form.dirTestPath(), L"z:\\");
  EXPECT_EQ(form.filTestPath(), L"z:\\");
  EXPECT_EQ(textOf(form.FilePath()), L"typed.csv");

  // A directory that cannot be read leaves both lists where they were.
  const auto before = listEntries(form.dirTest());
  EXPECT_FALSE(form.setDirTestPath(L"c:\\kestrine no such directory"));
  EXPECT_EQ(form.dirTestPath(), L"z:\\");
  EXPECT_EQ(form.filTestPath(), L"z:\\");
  EXPECT_EQ(listEntries(form.dirTest()), before);
}

// Records the paints of lblLoading (with the text it had) and the windows
// shown and hidden, as the run sends them: the run never returns to the loop.
std::vector<std::wstring>* gRecorded = nullptr;
Forms* gForms = nullptr;

LRESULT CALLBACK recordWindows(int code, WPARAM wParam, LPARAM lParam) {
  const auto& call = *reinterpret_cast<const CWPSTRUCT*>(lParam);
  if (code == HC_ACTION && gRecorded) {
    if (call.message == WM_DRAWITEM &&
        reinterpret_cast<const DRAWITEMSTRUCT*>(call.lParam)->hwndItem ==
            gForms->loading().lblLoading()) {
      gRecorded->push_back(L"paint " + textOf(gForms->loading().lblLoading()));
    }
    if (call.message == WM_SHOWWINDOW && GetParent(call.hwnd) == nullptr) {
      gRecorded->push_back((call.wParam ? L"show " : L"hide ") + textOf(call.hwnd));
    }
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

TEST_F(WindowsTest, ImportShowsAndPaintsEachStepWhileHoldingTheMessageLoop) {
  files_.files["users.csv"] = {
      "jdoe,John Doe,John,Doe,Pa55word!,Sales,example.test,fs1,home,logon.cmd"};
  Form1& form = forms_.form1();
  form.show();
  SetWindowTextW(form.FilePath(), L"users.csv");

  std::vector<std::wstring> recorded;
  gRecorded = &recorded;
  gForms = &forms_;
  HHOOK hook = SetWindowsHookExW(WH_CALLWNDPROC, recordWindows, nullptr, GetCurrentThreadId());
  SendMessageW(form.Command1(), BM_CLICK, 0, 0);  // the whole run
  UnhookWindowsHookEx(hook);
  gRecorded = nullptr;

  EXPECT_THAT(recorded,
              ElementsAre(L"hide Kestrine", L"show Working...", L"paint Loading Please Wait...",
                          L"paint Adding OU: Sales", L"paint Adding User: John Doe",
                          L"paint Creating Share: \\\\fs1\\home$\\jdoe", L"hide Working...",
                          L"show Dialog Caption"));
  EXPECT_TRUE(directory_.objects.count("cn=John Doe,OU=Sales,DC=example,DC=test"));
  EXPECT_TRUE(IsWindowVisible(forms_.complete().hwnd()));
  EXPECT_EQ(textOf(forms_.complete().lblComplete()),
            L"1 Users and Folders were added successfully!");
  EXPECT_EQ(textOf(forms_.loading().lblStep()), L"");
}

// Each box of the run, answered with OK as soon as it is up: the window that
// owns it.
std::vector<HWND>* gOwners = nullptr;

LRESULT CALLBACK answerBoxes(int code, WPARAM wParam, LPARAM lParam) {
  std::array<wchar_t, 16> name{};
  const auto box = reinterpret_cast<HWND>(wParam);
  if (code == HCBT_ACTIVATE && gOwners && GetClassNameW(box, name.data(), name.size()) &&
      std::wstring(name.data()) == L"#32770") {
    gOwners->push_back(GetWindow(box, GW_OWNER));
    PostMessageW(box, WM_COMMAND, IDOK, 0);
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

// Owned by the progress window, a box comes to the front with it instead of
// opening behind another program's windows.
TEST_F(WindowsTest, TheRunsMessageBoxesBelongToTheProgressWindow) {
  files_.files["users.csv"] = {
      "jdoe,John Doe,John,Doe,Pa55word!,Sales,example.test,fs1,home,logon.cmd"};
  files_.grantCodes["\\\\fs1\\home$\\jdoe"] = 5;  // the permission message, then the summary
  SetWindowTextW(forms_.form1().FilePath(), L"users.csv");
  std::vector<HWND> owners;
  gOwners = &owners;
  HHOOK hook = SetWindowsHookExW(WH_CBT, answerBoxes, nullptr, GetCurrentThreadId());
  SendMessageW(forms_.form1().Command1(), BM_CLICK, 0, 0);
  UnhookWindowsHookEx(hook);
  gOwners = nullptr;
  EXPECT_THAT(owners, ElementsAre(forms_.loading().hwnd(), forms_.loading().hwnd()));
}

// When Windows keeps it from the front, Complete gets a taskbar button.
TEST_F(WindowsTest, CompleteAskingForAttentionGetsATaskbarButtonAndStaysShown) {
  Complete& complete = forms_.complete();
  complete.show();
  complete.askForAttention();
  const LONG_PTR exStyle = GetWindowLongPtrW(complete.hwnd(), GWL_EXSTYLE);
  EXPECT_TRUE(exStyle & WS_EX_APPWINDOW);
  EXPECT_FALSE(exStyle & WS_EX_TOOLWINDOW);
  EXPECT_TRUE(IsWindowVisible(complete.hwnd()));
}

// Folders on a file server that takes two seconds to answer, asked through
// the program's call thread.
class SlowShare : public testing::FakeFileSystem {
 public:
  SlowShare(testing::CallLog& log, NetworkWait& wait) : FakeFileSystem(log), wait_(wait) {}
  bool FolderExists(const std::string& path) override {
    slowly();
    return FakeFileSystem::FolderExists(path);
  }
  bool CreateFolderFor(const std::string& path, const std::string& accountSid) override {
    slowly();
    return FakeFileSystem::CreateFolderFor(path, accountSid);
  }
  std::atomic<bool> waiting = false;

 private:
  void slowly() {
    waiting = true;
    wait_.run([] { Sleep(2000); });
  }
  NetworkWait& wait_;
};

TEST(DesktopPumpTest, WindowsAnswerWhileAStepWaitsAndInputToThemIsDropped) {
  testing::CallLog log;
  testing::FakeDirectory directory(log);
  CallThread calls(answerDesktop);
  SlowShare share(log, calls);
  share.files["users.csv"] = {"jdoe,John Doe,John,Doe,Pa55word!,Sales,example.test,fs1,home,x"};
  Forms forms(directory, share);
  forms.form1().show();
  SetWindowTextW(forms.form1().FilePath(), L"users.csv");
  const HWND loading = forms.loading().hwnd();
  // During the waits: the hung-window test, a click on Import, a typed letter,
  // and a log-off, which the run holds up.
  int answered = 0;
  DWORD_PTR mayEnd = TRUE;
  std::thread desktop([&] {
    while (!share.waiting) Sleep(10);
    SendMessageTimeoutW(loading, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_ABORTIFHUNG, 1000,
                        &mayEnd);
    PostMessageW(forms.form1().Command1(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    PostMessageW(forms.form1().Command1(), WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
    PostMessageW(forms.form1().FilePath(), WM_CHAR, L'x', 1);
    for (int asked = 0; asked < 12; ++asked, Sleep(200)) {
      DWORD_PTR result = 0;
      answered += SendMessageTimeoutW(loading, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &result) != 0;
    }
  });
  SendMessageW(forms.form1().Command1(), BM_CLICK, 0, 0);  // the whole run
  desktop.join();

  EXPECT_EQ(answered, 12);
  EXPECT_EQ(mayEnd, FALSE);
  EXPECT_EQ(SendMessageW(loading, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF), TRUE);
  EXPECT_EQ(textOf(forms.form1().FilePath()), L"users.csv");
  EXPECT_EQ(std::count(log.entries.begin(), log.entries.end(), "OpenTextFile users.csv"), 1);
}

}  // namespace
}  // namespace kestrine::win32
