#pragma once

#include <QApplication>
#include <QList>
#include <QMessageBox>
#include <QTimer>
#include <functional>

namespace kestrine::testing {

// What a message box showed before the answerer pressed OK on it.
struct SeenBox {
  QString title;
  QString text;
  QMessageBox::Icon icon;
  QMessageBox::StandardButtons standardButtons;
  qsizetype buttonCount;
  Qt::TextFormat textFormat;
  Qt::WindowModality modality;
};

// Presses OK on every message box that comes up while it lives, noting each.
class MessageBoxAnswerer {
 public:
  explicit MessageBoxAnswerer(std::function<void(const SeenBox&)> seen = {})
      : seen_(std::move(seen)) {
    QObject::connect(&timer_, &QTimer::timeout, [this] { answer(); });
    timer_.start(10);
  }

  QList<SeenBox> boxes;

 private:
  void answer() {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box || !box->isVisible()) return;
    const SeenBox seen{box->windowTitle(),     box->text(),           box->icon(),
                       box->standardButtons(), box->buttons().size(), box->textFormat(),
                       box->windowModality()};
    boxes.append(seen);
    if (seen_) seen_(seen);
    box->done(QMessageBox::Ok);
  }

  std::function<void(const SeenBox&)> seen_;
  QTimer timer_;
};

}  // namespace kestrine::testing
