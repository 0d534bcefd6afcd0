#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <functional>

namespace kestrine::testing {

// Presses OK on every message box that comes up while it lives, after handing
// it to `seen`.
class MessageBoxAnswerer {
 public:
  explicit MessageBoxAnswerer(std::function<void(QMessageBox&)> seen) : seen_(std::move(seen)) {
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box || !box->isVisible()) return;
      seen_(*box);
      box->done(QMessageBox::Ok);
    });
    timer_.start(10);
  }

 private:
  std::function<void(QMessageBox&)> seen_;
  QTimer timer_;
};

}  // namespace kestrine::testing
