#pragma once

#include <QAbstractButton>
#include <QPixmap>

#include "ui/window_description.h"

namespace kestrine {

// A push button whose face is a picture drawn centred on it, without text.
// Space, Enter and a mouse click press it.
class PictureButton : public QAbstractButton {
 public:
  PictureButton(QWidget* parent, const ControlDescription& control);

  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  QPixmap picture_;
};

}  // namespace kestrine
