#include "ui/qt/picture_button.h"

#include <QKeyEvent>
#include <QPen>
#include <QStyleOptionButton>
#include <QStylePainter>

#include "ui/qt/window_conventions.h"

namespace kestrine {

PictureButton::PictureButton(QWidget* parent, const ControlDescription& control)
    : QAbstractButton(parent), picture_(picturePath(control.picture)) {
  applyDescription(this, control);
  // The word on the picture, for accessibility only.
  setAccessibleName(QString::fromLatin1(control.word));
  setFocusPolicy(Qt::StrongFocus);
}

QSize PictureButton::sizeHint() const {
  return picture_.deviceIndependentSize().toSize();
}

void PictureButton::paintEvent(QPaintEvent*) {
  QStylePainter painter(this);
  QStyleOptionButton option;
  option.initFrom(this);
  option.state |= isDown() ? QStyle::State_Sunken : QStyle::State_Raised;
  painter.drawPrimitive(QStyle::PE_PanelButtonCommand, option);

  // A pressed face moves by one pixel, as a push button's caption does.
  const QSize face = picture_.deviceIndependentSize().toSize();
  QPoint at((width() - face.width()) / 2, (height() - face.height()) / 2);
  if (isDown()) at += QPoint(1, 1);
  painter.drawPixmap(at, picture_);

  // A dotted rectangle inside the face, in the light text colour: the style's
  // own focus frame would sit under the picture or vanish on its blue.
  if (hasFocus()) {
    painter.setPen(QPen(palette().color(QPalette::HighlightedText), 1, Qt::DotLine));
    painter.drawRect(QRect(at, face).adjusted(2, 2, -3, -3));
  }
}

void PictureButton::keyPressEvent(QKeyEvent* event) {
  // A focused push button answers Enter as well as Space.
  if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
      event->modifiers() == Qt::NoModifier) {
    click();
    return;
  }
  QAbstractButton::keyPressEvent(event);
}

}  // namespace kestrine
