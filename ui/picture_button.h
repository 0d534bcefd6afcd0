#pragma once

#include <QAbstractButton>
#include <QPixmap>

namespace kestrine {

// A push button whose face is a picture drawn centred on it, without text.
// Space, Enter and a mouse click press it.
class PictureButton : public QAbstractButton {
 public:
  // `caption` is the word on the picture, for accessibility only.
  PictureButton(QWidget* parent, const QString& name, const QString& pictureFile,
                const QString& caption, const QRect& place);

  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  QPixmap picture_;
};

}  // namespace kestrine
