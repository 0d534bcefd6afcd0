#include "ui/loading.h"

#include <QLabel>

#include "ui/window_conventions.h"

namespace kestrine {

Loading::Loading()
    : PictureWindow(QStringLiteral("Loading"), QStringLiteral("Working..."), twipsSize(5910, 1005),
                    QStringLiteral("loading.png"), Taskbar::Shown) {
  lblLoading_ =
      makeLabel(this, QStringLiteral("lblLoading"), QStringLiteral("Loading Please Wait..."),
                twipsRect(120, 360, 5655, 255), verdanaFont(9.75, true), Qt::AlignHCenter);
  setTextColour(lblLoading_, QColor(224, 224, 224));
  lblStep_ = makeLabel(this, QStringLiteral("lblStep"), QString(), twipsRect(120, 0, 2055, 255),
                       verdanaFont(6.75, true), Qt::AlignLeft);
  lblStep_->setForegroundRole(QPalette::Button);
}

}  // namespace kestrine
