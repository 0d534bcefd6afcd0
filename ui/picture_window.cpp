#include "ui/picture_window.h"

#include <QCloseEvent>
#include <QPainter>
#include <QScreen>

#include "ui/window_conventions.h"

namespace kestrine {

namespace {

// A tool window has no taskbar button (its type tells window managers so) and
// still takes the keyboard focus when activated, with or without a manager.
Qt::WindowFlags flagsFor(PictureWindow::Taskbar taskbar) {
  const Qt::WindowFlags type = taskbar == PictureWindow::Taskbar::Shown ? Qt::Window : Qt::Tool;
  return type | Qt::FramelessWindowHint;
}

}  // namespace

PictureWindow::PictureWindow(const QString& name, const QString& caption, QSize clientSize,
                             const QString& pictureFile, Taskbar taskbar)
    : QWidget(nullptr, flagsFor(taskbar)), picture_(assetPath(pictureFile)) {
  setObjectName(name);
  setWindowTitle(caption);
  setFixedSize(clientSize);
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
