#include "ui/qt/picture_window.h"

#include <QCloseEvent>
#include <QPainter>
#include <QScreen>

#include "ui/qt/window_conventions.h"

namespace kestrine {

namespace {

// A tool window has no taskbar button (its type tells window managers so) and
// still takes the keyboard focus when activated, with or without a manager.
Qt::WindowFlags flagsFor(const WindowDescription& window) {
  const Qt::WindowFlags type = window.taskbar ? Qt::Window : Qt::Tool;
  return type | Qt::FramelessWindowHint;
}

}  // namespace

PictureWindow::PictureWindow(const WindowDescription& window)
    : QWidget(nullptr, flagsFor(window)), picture_(picturePath(window.picture)) {
  setObjectName(QString::fromLatin1(window.name));
  setWindowTitle(QString::fromUtf8(window.caption));
  setFixedSize(clientSize(window));
  if (window.icon) setWindowIcon(applicationIcon());
}

void PictureWindow::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.drawPixmap(0, 0, picture_);
}

void PictureWindow::showEvent(QShowEvent* event) {
  if (!placed_ && !event->spontaneous()) {
    placed_ = true;
    const QRect screenArea = screen()->geometry();
    move(screenArea.x() + (screenArea.width() - width()) / 2,
         screenArea.y() + (screenArea.height() - height()) / 2);
  }
  QWidget::showEvent(event);
}

void PictureWindow::closeEvent(QCloseEvent* event) {
  event->ignore();
}

}  // namespace kestrine
