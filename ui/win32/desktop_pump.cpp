#include "ui/win32/desktop_pump.h"

#include <windows.h>

namespace kestrine::win32 {

namespace {

bool isInput(UINT message) {
  return (message >= WM_KEYFIRST && message <= WM_KEYLAST) ||
         (message >= WM_MOUSEFIRST && message <= WM_MOUSELAST) ||
         (message >= WM_NCMOUSEMOVE && message <= WM_NCXBUTTONDBLCLK) || message == WM_INPUT ||
         message == WM_MOUSEHOVER || message == WM_MOUSELEAVE || message == WM_NCMOUSEHOVER ||
         message == WM_NCMOUSELEAVE || message == WM_TOUCH || message == WM_APPCOMMAND;
}

}  // namespace

// Every window of this thread is the program's own.
void answerDesktop() {
  MSG message{};
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(message.wParam));  // for the message loop
      return;
    }
    if (!isInput(message.message)) DispatchMessageW(&message);
  }
}

}  // namespace kestrine::win32
