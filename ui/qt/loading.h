#pragma once

#include "ui/qt/picture_window.h"

class QLabel;

namespace kestrine {

// The progress window: one line of progress text while the import runs. It
// handles no event; the run writes and repaints lblLoading.
class Loading : public PictureWindow {
 public:
  Loading();

  QLabel* lblLoading() const { return lblLoading_; }
  QLabel* lblStep() const { return lblStep_; }

 private:
  QLabel* lblLoading_;
  QLabel* lblStep_;
};

}  // namespace kestrine
