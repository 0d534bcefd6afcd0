#pragma once

#include "ui/win32/picture_window.h"
#include "ui/win32/program_end.h"

namespace kestrine::win32 {

// The completion window: the run's result text and Finish, which ends the
// program.
class Complete : public PictureWindow {
 public:
  Complete() : PictureWindow(kComplete) {}

  HWND lblComplete() const { return control("lblComplete"); }
  HWND Finish() const { return control("Finish"); }

  // For when Windows refused the window the foreground (the administrator
  // had moved to another program): as a tool window it has no taskbar
  // button and would lie behind the others with no way back to it. It gets
  // one, flashing until the window is brought up. The taskbar reads the
  // style only when a window is shown.
  void askForAttention() {
    hide();
    const LONG_PTR exStyle = GetWindowLongPtrW(hwnd(), GWL_EXSTYLE);
    SetWindowLongPtrW(hwnd(), GWL_EXSTYLE, (exStyle & ~WS_EX_TOOLWINDOW) | WS_EX_APPWINDOW);
    ShowWindow(hwnd(), SW_SHOWNA);
    FLASHWINFO flash{sizeof flash, hwnd(), FLASHW_ALL | FLASHW_TIMERNOFG, 0, 0};
    FlashWindowEx(&flash);
  }

 protected:
  void command(const ControlDescription& control, HWND, int notification) override {
    if (control.kind == ControlKind::PictureButton && notification == BN_CLICKED) endProgram();
  }
};

}  // namespace kestrine::win32
