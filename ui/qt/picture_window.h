#pragma once

#include <QPixmap>
#include <QWidget>

#include "ui/window_description.h"

namespace kestrine {

// A window of fixed size without frame or title bar whose look is a background
// picture, drawn at the top-left corner as it is (a larger picture is cut off).
// It is centred on the screen when first shown and ignores requests to close
// it: the program leaves its windows only through the program end.
class PictureWindow : public QWidget {
 public:
  explicit PictureWindow(const WindowDescription& window);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  QPixmap picture_;
  bool placed_ = false;
};

}  // namespace kestrine
