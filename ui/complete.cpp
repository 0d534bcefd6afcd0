#include "ui/complete.h"

#include <QLabel>

#include "ui/picture_button.h"
#include "ui/program_end.h"
#include "ui/window_conventions.h"

namespace kestrine {

Complete::Complete()
    : PictureWindow(QStringLiteral("Complete"), QStringLiteral("Dialog Caption"),
                    twipsSize(5895, 1230), QStringLiteral("complete.png"), Taskbar::Hidden) {
  // Wider than the window: the text is centred on the label, 4 px right of the
  // window's middle.
  lblComplete_ =
      makeLabel(this, QStringLiteral("lblComplete"), QString(), twipsRect(0, 360, 6015, 375),
                verdanaFont(8.25, false), Qt::AlignHCenter);
  lblComplete_->setForegroundRole(QPalette::HighlightedText);
  Finish_ = new PictureButton(this, QStringLiteral("Finish"), QStringLiteral("done.png"),
                              QStringLiteral("Done"), twipsRect(2520, 720, 875, 350));
  Finish_->setFocus();
  connect(Finish_, &QAbstractButton::clicked, this, [] { endProgram(); });
}

}  // namespace kestrine
