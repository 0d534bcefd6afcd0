#include "ui/qt/desktop_pump.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>

namespace kestrine {

namespace {

bool isInput(QEvent::Type type) {
  switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::NonClientAreaMouseButtonPress:
    case QEvent::NonClientAreaMouseButtonRelease:
    case QEvent::NonClientAreaMouseButtonDblClick:
    case QEvent::NonClientAreaMouseMove:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::InputMethod:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TouchCancel:
    case QEvent::TabletPress:
    case QEvent::TabletMove:
    case QEvent::TabletRelease:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
      return true;
    default:
      return false;
  }
}

// ExcludeUserInputEvents alone would only put the input off until the next
// event loop (a message box's), which would then act on it.
class DropInput : public QObject {
 public:
  bool eventFilter(QObject*, QEvent* event) override { return isInput(event->type()); }
};

}  // namespace

void answerDesktop() {
  QCoreApplication* application = QCoreApplication::instance();
  DropInput dropInput;
  application->installEventFilter(&dropInput);
  QCoreApplication::processEvents(QEventLoop::AllEvents);
  application->removeEventFilter(&dropInput);
}

}  // namespace kestrine
