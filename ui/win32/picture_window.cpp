#include "ui/win32/picture_window.h"

#include <windowsx.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/win32/wide_text.h"
#include "ui/win32/program_end.h"
#include "ui/win32/window_conventions.h"

namespace kestrine::win32 {

namespace {

constexpr wchar_t kWindowClass[] = L"KestrinePictureWindow";
// Control ids start above IDOK and IDCANCEL, so that the dialog keyboard never
// mistakes a control for the OK or Cancel of a dialog box.
constexpr int kFirstControlId = 100;
// A drop-down list is created this much taller than its field: the height of
// its opened list.
constexpr int kDropDownHeight = 200;

ATOM registerWindowClass(WNDPROC windowProc) {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = windowProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.lpszClassName = kWindowClass;
  return RegisterClassExW(&windowClass);
}

struct ControlClass {
  const wchar_t* name;
  DWORD style;
  DWORD exStyle;
};

ControlClass classOf(ControlKind kind) {
  constexpr DWORD kList =
      WS_TABSTOP | WS_VSCROLL | LBS_NOTIFY | LBS_SORT | LBS_HASSTRINGS | LBS_NOINTEGRALHEIGHT;
  switch (kind) {
    case ControlKind::Label:
      return {L"STATIC", SS_OWNERDRAW, 0};
    case ControlKind::DriveList:
      return {L"COMBOBOX", WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST | CBS_SORT | CBS_HASSTRINGS,
              0};
    case ControlKind::DirList:
    case ControlKind::FileList:
      return {L"LISTBOX", kList, WS_EX_CLIENTEDGE};
    case ControlKind::TextBox:
      return {L"EDIT", WS_TABSTOP | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE};
    case ControlKind::PictureButton:
      return {L"BUTTON", WS_TABSTOP | BS_OWNERDRAW, 0};
  }
  std::abort();
}

PictureWindow* windowOf(HWND hwnd) {
  return reinterpret_cast<PictureWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

// A drop-down list's height is that of its field plus its opened list; the
// field is sized through its item height so that the closed control takes the
// place of the description.
// The field's frame is not the same on every system, so it is measured; a
// second round catches a frame that grows with the field.
void fitDropDownField(HWND combo, int height) {
  for (int round = 0; round < 2; ++round) {
    RECT now{};
    GetWindowRect(combo, &now);
    const auto item = SendMessageW(combo, CB_GETITEMHEIGHT, static_cast<WPARAM>(-1), 0);
    const auto wanted = item + height - (now.bottom - now.top);
    if (wanted == item || wanted <= 0) return;
    SendMessageW(combo, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), wanted);
  }
}

}  // namespace

PictureWindow::PictureWindow(const WindowDescription& description)
    : description_(description), picture_(loadPicture(description.picture)) {
  [[maybe_unused]] static const ATOM windowClass = registerWindowClass(&windowProc);
  // Without a border the window is its client area.
  const DWORD exStyle = description.taskbar ? WS_EX_APPWINDOW : WS_EX_TOOLWINDOW;
  hwnd_ = CreateWindowExW(exStyle, kWindowClass, toWide(description.caption).c_str(),
                          WS_POPUP | WS_CLIPCHILDREN, 0, 0, twipsToPixels(description.width),
                          twipsToPixels(description.height), nullptr, nullptr,
                          GetModuleHandleW(nullptr), this);
  if (!hwnd_) {
    std::fprintf(stderr, "kestrine: cannot create the window %s\n", description.name);
    std::abort();
  }

  // Created in tab order, which is the order in which the dialog keyboard
  // visits them; the labels after them.
  children_.reserve(description.controls.size());
  for (const ControlDescription* control : tabOrder(description)) createControl(*control);
  for (const ControlDescription& control : description.controls) {
    if (!control.takesFocus()) createControl(control);
  }

  if (description.icon) {
    // Kept by the window class's owner for the life of the process.
    SendMessageW(hwnd_, WM_SETICON, ICON_BIG,
                 reinterpret_cast<LPARAM>(loadApplicationIcon(SM_CXICON, SM_CYICON).release()));
    SendMessageW(hwnd_, WM_SETICON, ICON_SMALL,
                 reinterpret_cast<LPARAM>(loadApplicationIcon(SM_CXSMICON, SM_CYSMICON).release()));
  }
}

PictureWindow::~PictureWindow() {
  SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
  DestroyWindow(hwnd_);
}

void PictureWindow::createControl(const ControlDescription& control) {
  const ControlClass controlClass = classOf(control.kind);
  const PixelRect place = toPixels(control.place);
  const int id = kFirstControlId + static_cast<int>(&control - description_.controls.data());
  const int height =
      control.kind == ControlKind::DriveList ? place.height + kDropDownHeight : place.height;
  HWND hwnd = CreateWindowExW(
      controlClass.exStyle, controlClass.name, toWide(control.text).c_str(),
      WS_CHILD | WS_VISIBLE | controlClass.style, place.left, place.top, place.width, height, hwnd_,
      reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), this);
  Child child{&control, hwnd, nullptr, nullptr};
  if (control.font.points > 0) {
    child.font = createFont(control.font);
    SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(child.font.get()), FALSE);
  }
  if (control.kind == ControlKind::DriveList) fitDropDownField(hwnd, place.height);
  if (control.kind == ControlKind::PictureButton) {
    child.face = loadFace(control.picture, GetSysColor(COLOR_BTNFACE));
  }
  children_.push_back(std::move(child));
}

HWND PictureWindow::control(std::string_view name) const {
  return GetDlgItem(hwnd_, controlId(name));
}

int PictureWindow::controlId(std::string_view name) const {
  return kFirstControlId +
         static_cast<int>(&controlOf(description_, name) - description_.controls.data());
}

const PictureWindow::Child* PictureWindow::childOf(HWND hwnd) const {
  for (const Child& child : children_) {
    if (child.hwnd == hwnd) return &child;
  }
  return nullptr;
}

void PictureWindow::show() {
  if (!placed_) {
    placed_ = true;
    RECT window{};
    GetWindowRect(hwnd_, &window);
    const int width = window.right - window.left;
    const int height = window.bottom - window.top;
    SetWindowPos(hwnd_, nullptr, (GetSystemMetrics(SM_CXSCREEN) - width) / 2,
                 (GetSystemMetrics(SM_CYSCREEN) - height) / 2, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  ShowWindow(hwnd_, SW_SHOW);
  SetForegroundWindow(hwnd_);
  // The import run holds the message loop while its windows show: paint now.
  UpdateWindow(hwnd_);
}

void PictureWindow::hide() {
  ShowWindow(hwnd_, SW_HIDE);
}

bool PictureWindow::translateKey(MSG& message) {
  HWND top = message.hwnd ? GetAncestor(message.hwnd, GA_ROOT) : nullptr;
  PictureWindow* window = top ? windowOf(top) : nullptr;
  if (!window) return false;
  if (message.message == WM_KEYDOWN && message.wParam == VK_RETURN &&
      window->returnPressed(GetFocus())) {
    return true;
  }
  return IsDialogMessageW(top, &message);
}

bool PictureWindow::returnPressed(HWND focus) {
  const Child* child = childOf(focus);
  if (!child || child->description->kind != ControlKind::PictureButton) return false;
  SendMessageW(focus, BM_CLICK, 0, 0);
  return true;
}

LRESULT CALLBACK PictureWindow::windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* window =
        static_cast<PictureWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    window->hwnd_ = hwnd;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(window));
  }
  PictureWindow* window = windowOf(hwnd);
  if (!window) return DefWindowProcW(hwnd, message, wParam, lParam);
  return window->handle(message, wParam, lParam);
}

LRESULT PictureWindow::handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_ERASEBKGND:
      return 1;  // the picture covers it all
    case WM_PAINT:
      paint();
      return 0;
    case WM_DRAWITEM: {
      const auto& item = *reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
      if (item.CtlType == ODT_STATIC) drawLabel(item);
      if (item.CtlType == ODT_BUTTON) drawButton(item);
      return TRUE;
    }
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
      return reinterpret_cast<LRESULT>(
          textColours(reinterpret_cast<HWND>(lParam), reinterpret_cast<HDC>(wParam)));
    case WM_COMMAND:
      if (const Child* child = childOf(reinterpret_cast<HWND>(lParam))) {
        command(*child->description, child->hwnd, HIWORD(wParam));
      }
      return 0;
    case WM_ACTIVATE:
      // As a dialog box does: the focus comes back to the control that had it,
      // or goes to the first one in tab order.
      if (LOWORD(wParam) == WA_INACTIVE) {
        HWND focus = GetFocus();
        if (focus && IsChild(hwnd_, focus)) lastFocus_ = focus;
      } else {
        HWND focus = lastFocus_;
        const auto order = tabOrder(description_);
        if (!focus && !order.empty()) focus = control(order.front()->name);
        if (focus) SetFocus(focus);
        return 0;
      }
      break;
    case WM_CLOSE:
      return 0;  // only the program end ends the program
    case WM_QUERYENDSESSION:
      // A run keeps the log-off or shutdown waiting, with its reason shown.
      return ShutdownBlock::active() ? FALSE : TRUE;
    default:
      break;
  }
  return DefWindowProcW(hwnd_, message, wParam, lParam);
}

void PictureWindow::paint() {
  PAINTSTRUCT paint{};
  HDC dc = BeginPaint(hwnd_, &paint);
  if (picture_) {
    BITMAP size{};
    GetObjectW(picture_.get(), sizeof size, &size);
    MemoryDc source(dc, picture_.get());
    BitBlt(dc, 0, 0, size.bmWidth, size.bmHeight, source.get(), 0, 0, SRCCOPY);
  }
  EndPaint(hwnd_, &paint);
}

// A label without background: the picture under it, then its text.
void PictureWindow::drawLabel(const DRAWITEMSTRUCT& item) {
  const Child* child = childOf(item.hwndItem);
  if (!child) return;
  RECT place = item.rcItem;
  MapWindowPoints(item.hwndItem, hwnd_, reinterpret_cast<POINT*>(&place), 2);
  if (picture_) {
    MemoryDc source(item.hDC, picture_.get());
    BitBlt(item.hDC, 0, 0, item.rcItem.right, item.rcItem.bottom, source.get(), place.left,
           place.top, SRCCOPY);
  }
  const int length = GetWindowTextLengthW(item.hwndItem);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  GetWindowTextW(item.hwndItem, text.data(), length + 1);
  text.resize(static_cast<std::size_t>(length));

  HGDIOBJ previousFont = SelectObject(item.hDC, child->font.get());
  SetBkMode(item.hDC, TRANSPARENT);
  SetTextColor(item.hDC, colourOf(child->description->colour));
  RECT area = item.rcItem;
  const UINT align = child->description->align == TextAlign::Centre ? DT_CENTER : DT_LEFT;
  DrawTextW(item.hDC, text.c_str(), length, &area, align | DT_TOP | DT_WORDBREAK | DT_NOPREFIX);
  SelectObject(item.hDC, previousFont);
}

// A push button's frame with the face picture centred on it; a pressed face
// moves by one pixel, and the focus shows as a dotted rectangle inside it.
void PictureWindow::drawButton(const DRAWITEMSTRUCT& item) {
  const Child* child = childOf(item.hwndItem);
  if (!child) return;
  const bool pressed = item.itemState & ODS_SELECTED;
  RECT frame = item.rcItem;
  DrawFrameControl(item.hDC, &frame, DFC_BUTTON, DFCS_BUTTONPUSH | (pressed ? DFCS_PUSHED : 0));
  if (!child->face) return;
  BITMAP size{};
  GetObjectW(child->face.get(), sizeof size, &size);
  const int offset = pressed ? 1 : 0;
  const int left = (item.rcItem.right - size.bmWidth) / 2 + offset;
  const int top = (item.rcItem.bottom - size.bmHeight) / 2 + offset;
  MemoryDc source(item.hDC, child->face.get());
  BitBlt(item.hDC, left, top, size.bmWidth, size.bmHeight, source.get(), 0, 0, SRCCOPY);
  if (item.itemState & ODS_FOCUS) {
    RECT focus{left + 2, top + 2, left + size.bmWidth - 2, top + size.bmHeight - 2};
    DrawFocusRect(item.hDC, &focus);
  }
}

HBRUSH PictureWindow::textColours(HWND control, HDC dc) {
  // The drop-down list of the drive list is a window of its own, not a child.
  const Child* child = childOf(control);
  if (!child) child = childOf(GetParent(control));
  if (!child) child = childOf(reinterpret_cast<HWND>(GetWindowLongPtrW(control, GWLP_HWNDPARENT)));
  if (child) SetTextColor(dc, colourOf(child->description->colour));
  SetBkColor(dc, GetSysColor(COLOR_WINDOW));
  return GetSysColorBrush(COLOR_WINDOW);
}

}  // namespace kestrine::win32
