#include "ui/win32/summary_box.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// After windows.h, which it needs.
#include <commdlg.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "platform/win32/system_library.h"
#include "platform/win32/wide_text.h"
#include "run/import_run.h"
#include "ui/window_description.h"

namespace kestrine::win32 {

namespace {

constexpr WORD kButtonClass = 0x0080;
constexpr WORD kEditClass = 0x0081;
constexpr WORD kStaticClass = 0x0082;
constexpr DWORD kBoxStyle = DS_MODALFRAME | DS_SETFONT | WS_POPUP | WS_CAPTION | WS_SYSMENU;

// A dialog template in memory: the header, then each control, every part
// aligned as DialogBoxIndirectParamW reads it. Places and sizes are left at
// zero; the box lays itself out when it knows its font and text.
class DialogTemplate {
 public:
  DialogTemplate(const std::wstring& title, WORD points, const wchar_t* font) {
    DLGTEMPLATE header{};
    header.style = kBoxStyle;
    append(&header, sizeof header);
    words_.push_back(0);  // no menu
    words_.push_back(0);  // the dialog class
    text(title);
    words_.push_back(points);
    text(font);
  }

  void add(WORD id, WORD windowClass, DWORD style) {
    if (words_.size() % 2 != 0) words_.push_back(0);  // DWORD-aligned
    DLGITEMTEMPLATE item{};
    item.style = style | WS_CHILD;
    item.id = id;
    append(&item, sizeof item);
    words_.push_back(0xFFFF);
    words_.push_back(windowClass);
    words_.push_back(0);  // no text: the box gives it
    words_.push_back(0);  // no creation data
    ++count_;
  }

  const DLGTEMPLATE* get() {
    reinterpret_cast<DLGTEMPLATE*>(words_.data())->cdit = count_;
    return reinterpret_cast<const DLGTEMPLATE*>(words_.data());
  }

 private:
  void append(const void* data, std::size_t size) {
    const std::size_t at = words_.size();
    words_.resize(at + size / sizeof(WORD));
    std::memcpy(words_.data() + at, data, size);
  }
  void text(const std::wstring& text) {
    for (const wchar_t c : text) words_.push_back(static_cast<WORD>(c));
    words_.push_back(0);
  }

  std::vector<WORD> words_;  // a vector's storage is aligned for DWORDs
  WORD count_ = 0;
};

std::wstring wide(const char* text) {
  return toWide(text);
}

// An edit control wants CR LF between lines.
std::wstring withCrLf(const std::string& text) {
  std::wstring lines;
  for (const wchar_t c : toWide(text)) {
    if (c == L'\n') lines += L'\r';
    lines += c;
  }
  return lines;
}

RECT workArea(HWND window) {
  MONITORINFO info{};
  info.cbSize = sizeof info;
  GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &info);
  return info.rcWork;
}

// The size of a control's text in its font, wrapped at `width` (0: one line).
SIZE textSize(HWND control, int width) {
  const int length = GetWindowTextLengthW(control);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  GetWindowTextW(control, text.data(), length + 1);
  HDC dc = GetDC(control);
  const HGDIOBJ previous =
      SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(control, WM_GETFONT, 0, 0)));
  RECT rect{0, 0, width, 0};
  const UINT format = DT_CALCRECT | DT_NOPREFIX | DT_EXPANDTABS |
                      (width > 0 ? DT_WORDBREAK | DT_EDITCONTROL : DT_SINGLELINE);
  DrawTextW(dc, text.c_str(), length, &rect, format);
  SelectObject(dc, previous);
  ReleaseDC(control, dc);
  return {rect.right, rect.bottom};
}

// Ctrl+A selects all of the details, as in other programs' texts; the classic
// edit control leaves that to its owner.
LRESULT CALLBACK detailsProc(HWND edit, UINT message, WPARAM wParam, LPARAM lParam) {
  const auto previous = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(edit, GWLP_USERDATA));
  if (message == WM_KEYDOWN && wParam == 'A' && GetKeyState(VK_CONTROL) < 0) {
    SendMessageW(edit, EM_SETSEL, 0, -1);
    return 0;
  }
  if (message == WM_CHAR && wParam == 1) return 0;  // the character Ctrl+A types
  return CallWindowProcW(previous, edit, message, wParam, lParam);
}

class Box {
 public:
  explicit Box(const RunSummary& summary) : summary_(summary) {}

  static INT_PTR CALLBACK proc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
      SetWindowLongPtrW(dialog, DWLP_USER, lParam);
      reinterpret_cast<Box*>(lParam)->start(dialog);
      return FALSE;  // the focus is given
    }
    auto* box = reinterpret_cast<Box*>(GetWindowLongPtrW(dialog, DWLP_USER));
    if (!box || message != WM_COMMAND) return FALSE;
    switch (LOWORD(wParam)) {
      case IDOK:
      case IDCANCEL:
        EndDialog(dialog, IDOK);
        return TRUE;
      case kDetailsButton:
        box->toggleDetails();
        return TRUE;
      case kSaveButton:
        box->save();
        return TRUE;
      default:
        return FALSE;
    }
  }

 private:
  HWND item(int id) const { return GetDlgItem(dialog_, id); }

  void start(HWND dialog) {
    dialog_ = dialog;
    SetDlgItemTextW(dialog, kSummaryText, toWide(summary_.text).c_str());
    SetDlgItemTextW(dialog, kDetailsButton, wide(kSummaryBox.showDetails).c_str());
    SetDlgItemTextW(dialog, kSaveButton, wide(kSummaryBox.save).c_str());
    SetDlgItemTextW(dialog, IDOK, wide(kSummaryBox.ok).c_str());
    HWND details = item(kDetails);
    SendMessageW(details, EM_SETLIMITTEXT, 0, 0);  // as long as it is
    SetWindowTextW(details, withCrLf(summary_.details).c_str());
    SetWindowLongPtrW(details, GWLP_USERDATA, GetWindowLongPtrW(details, GWLP_WNDPROC));
    SetWindowLongPtrW(details, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(detailsProc));
    layOut(true);
    SetFocus(item(IDOK));
    SetForegroundWindow(dialog);
  }

  void toggleDetails() {
    open_ = !open_;
    SetDlgItemTextW(dialog_, kDetailsButton,
                    wide(open_ ? kSummaryBox.hideDetails : kSummaryBox.showDetails).c_str());
    layOut(false);
    ShowWindow(item(kDetails), open_ ? SW_SHOW : SW_HIDE);
    // The dialog's own way to move the focus, which also selects all of the
    // text in an edit control.
    SendMessageW(dialog_, WM_NEXTDLGCTL,
                 reinterpret_cast<WPARAM>(item(open_ ? kDetails : kDetailsButton)), TRUE);
  }

  // Places every part in pixels of the dialog's font, at most as large as
  // the screen's work area, and the box centred on it at first; later it
  // keeps its place as far as the work area allows.
  void layOut(bool first) {
    const int margin = kSummaryBox.margin;
    const RECT work = workArea(dialog_);
    RECT frame{0, 0, 0, 0};
    AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongPtrW(dialog_, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongPtrW(dialog_, GWL_EXSTYLE)));
    const int room = (work.right - work.left) - (frame.right - frame.left) - 2 * margin;
    const int height = (work.bottom - work.top) - (frame.bottom - frame.top);

    TEXTMETRICW metrics{};
    HDC dc = GetDC(dialog_);
    const HGDIOBJ previous =
        SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(dialog_, WM_GETFONT, 0, 0)));
    GetTextMetricsW(dc, &metrics);
    SelectObject(dc, previous);
    ReleaseDC(dialog_, dc);
    const int character = metrics.tmAveCharWidth;
    const int line = metrics.tmHeight;
    RECT button{0, 0, 50, 14};  // dialog units, as Windows' own boxes size buttons
    MapDialogRect(dialog_, &button);

    // The buttons: their texts' widths, at least the usual one.
    std::vector<std::pair<int, int>> row;  // id, width
    for (const int id : {kDetailsButton, kSaveButton, IDOK}) {
      if (id == kSaveButton && summary_.savable == 0) continue;
      row.emplace_back(id, std::max<int>(button.right, textSize(item(id), 0).cx + 4 * character));
    }
    int rowWidth = margin * static_cast<int>(row.size());
    for (const auto& [id, width] : row) rowWidth += width;

    const SIZE text =
        textSize(item(kSummaryText), std::min(character * kSummaryBox.textColumns, room));
    const int edges = 2 * GetSystemMetrics(SM_CXEDGE) + GetSystemMetrics(SM_CXVSCROLL) + character;
    const int detailsWidth =
        open_ ? std::min(character * kSummaryBox.detailsColumns + edges, room) : 0;
    const int width = std::max({static_cast<int>(text.cx), rowWidth, detailsWidth});
    const int minimumDetails = open_ ? 3 * line + edges + margin : 0;
    const int textHeight =
        std::min(static_cast<int>(text.cy),
                 height - 3 * margin - static_cast<int>(button.bottom) - minimumDetails);

    int y = margin;
    MoveWindow(item(kSummaryText), margin, y, width, textHeight, TRUE);
    y += textHeight + margin;
    int x = margin;
    for (const auto& [id, buttonWidth] : row) {
      const int left = id == IDOK ? margin + width - buttonWidth : x;
      MoveWindow(item(id), left, y, buttonWidth, button.bottom, TRUE);
      x += buttonWidth + margin;
    }
    ShowWindow(item(kSaveButton), summary_.savable > 0 ? SW_SHOW : SW_HIDE);
    y += button.bottom + margin;
    if (open_) {
      const int detailsHeight = std::max(
          std::min(line * kSummaryBox.detailsLines + edges, height - y - margin), 3 * line);
      MoveWindow(item(kDetails), margin, y, width, detailsHeight, TRUE);
      y += detailsHeight + margin;
    }

    const int outerWidth = width + 2 * margin + (frame.right - frame.left);
    const int outerHeight = y + (frame.bottom - frame.top);
    RECT place{};
    GetWindowRect(dialog_, &place);
    int left = first ? work.left + ((work.right - work.left) - outerWidth) / 2 : place.left;
    int top = first ? work.top + ((work.bottom - work.top) - outerHeight) / 2 : place.top;
    left = std::max(std::min(left, static_cast<int>(work.right) - outerWidth),
                    static_cast<int>(work.left));
    top = std::max(std::min(top, static_cast<int>(work.bottom) - outerHeight),
                   static_cast<int>(work.top));
    SetWindowPos(dialog_, nullptr, left, top, outerWidth, outerHeight,
                 SWP_NOZORDER | SWP_NOACTIVATE);
  }

  // The platform's save dialog, which asks before it replaces a file.
  void save() {
    std::wstring suggested = toWide(summary_.savePath);
    std::wstring full(32768, L'\0');
    const DWORD length =
        GetFullPathNameW(suggested.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length > 0 && length < full.size()) suggested.assign(full.data(), length);
    const std::size_t slash = suggested.find_last_of(L"\\/");
    const std::wstring folder = slash == std::wstring::npos ? L"" : suggested.substr(0, slash);
    std::wstring file = slash == std::wstring::npos ? suggested : suggested.substr(slash + 1);
    file.resize(32768, L'\0');

    const std::string pattern = kSummaryBox.savePattern;
    std::wstring filter = toWide(std::string(kSummaryBox.saveFilter) + " (" + pattern + ")");
    filter += L'\0';
    filter += toWide(pattern);
    filter += L'\0';
    const std::wstring extension = toWide(pattern.substr(pattern.rfind('.') + 1));
    const std::wstring title = wide(kSummaryBox.saveTitle);

    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = dialog_;
    dialog.lpstrFilter = filter.c_str();
    dialog.lpstrFile = file.data();
    dialog.nMaxFile = static_cast<DWORD>(file.size());
    dialog.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
    dialog.lpstrTitle = title.c_str();
    dialog.lpstrDefExt = extension.c_str();
    // The current directory stays where the program started: a path typed
    // into the path box is read from there.
    dialog.Flags =
        OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR | OFN_HIDEREADONLY | OFN_EXPLORER;
    // comdlg32 by its full path in the system folder, as every DLL here that
    // is no KnownDLL.
    static auto* const getSaveFileName =
        systemFunction<decltype(GetSaveFileNameW)>(L"comdlg32.dll", "GetSaveFileNameW");
    static auto* const extendedError =
        systemFunction<decltype(CommDlgExtendedError)>(L"comdlg32.dll", "CommDlgExtendedError");
    if (!getSaveFileName || !extendedError) {
      tell("Cannot save the failed records: the save dialog is not there (comdlg32.dll)");
      return;
    }
    if (!getSaveFileName(&dialog)) {
      if (const DWORD error = extendedError(); error != 0) {
        tell("Cannot save the failed records: the save dialog failed (error " +
             std::to_string(error) + ")");
      }
      return;
    }
    const std::string problem = summary_.save(toUtf8(file.c_str()));
    if (!problem.empty()) return tell(problem);
    // Saved: what is left is to close the box, so Return now presses OK
    // rather than the save button again.
    SendMessageW(dialog_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(item(IDOK)), TRUE);
  }

  void tell(const std::string& text) {
    MessageBoxW(dialog_, toWide(text).c_str(), wide(kApplicationTitle).c_str(), MB_OK);
  }

  const RunSummary& summary_;
  HWND dialog_ = nullptr;
  bool open_ = false;
};

}  // namespace

void showSummaryBox(HWND owner, const RunSummary& summary) {
  DialogTemplate box(wide(kApplicationTitle), 8, L"MS Shell Dlg");
  box.add(kSummaryText, kStaticClass, WS_VISIBLE | SS_LEFT | SS_NOPREFIX | SS_EDITCONTROL);
  box.add(kDetailsButton, kButtonClass, WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON);
  box.add(kSaveButton, kButtonClass, WS_TABSTOP | BS_PUSHBUTTON);
  box.add(IDOK, kButtonClass, WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON);
  box.add(kDetails, kEditClass,
          WS_TABSTOP | WS_BORDER | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL);
  Box state(summary);
  DialogBoxIndirectParamW(GetModuleHandleW(nullptr), box.get(), owner, Box::proc,
                          reinterpret_cast<LPARAM>(&state));
}

}  // namespace kestrine::win32
