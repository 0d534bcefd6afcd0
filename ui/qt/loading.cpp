#include "ui/qt/loading.h"

#include <QLabel>

#include "ui/qt/window_conventions.h"

namespace kestrine {

Loading::Loading() : PictureWindow(kLoading) {
  lblLoading_ = makeLabel(this, controlOf(kLoading, "lblLoading"));
  lblStep_ = makeLabel(this, controlOf(kLoading, "lblStep"));
}

}  // namespace kestrine
