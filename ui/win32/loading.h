#pragma once

#include "ui/win32/picture_window.h"

namespace kestrine::win32 {

// The progress window: one line of progress text while the import runs. It
// handles no event; the run writes and repaints lblLoading.
class Loading : public PictureWindow {
 public:
  Loading() : PictureWindow(kLoading) {}

  HWND lblLoading() const { return control("lblLoading"); }
  HWND lblStep() const { return control("lblStep"); }
};

}  // namespace kestrine::win32
