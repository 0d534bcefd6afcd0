#pragma once

#include "ui/qt/picture_window.h"

class QLabel;

namespace kestrine {

class PictureButton;

// The completion window: the run's result text and Finish, which ends the
// program.
class Complete : public PictureWindow {
 public:
  Complete();

  QLabel* lblComplete() const { return lblComplete_; }
  PictureButton* Finish() const { return Finish_; }

 private:
  QLabel* lblComplete_;
  PictureButton* Finish_;
};

}  // namespace kestrine
