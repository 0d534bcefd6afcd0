#include "ui/qt/complete.h"

#include <QLabel>

#include "ui/qt/picture_button.h"
#include "ui/qt/program_end.h"
#include "ui/qt/window_conventions.h"

namespace kestrine {

Complete::Complete() : PictureWindow(kComplete) {
  lblComplete_ = makeLabel(this, controlOf(kComplete, "lblComplete"));
  Finish_ = new PictureButton(this, controlOf(kComplete, "Finish"));
  Finish_->setFocus();
  connect(Finish_, &QAbstractButton::clicked, this, [] { endProgram(); });
}

}  // namespace kestrine
