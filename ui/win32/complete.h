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

 protected:
  void command(const ControlDescription& control, HWND, int notification) override {
    if (control.kind == ControlKind::PictureButton && notification == BN_CLICKED) endProgram();
  }
};

}  // namespace kestrine::win32
