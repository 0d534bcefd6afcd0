#include "ui/window_conventions.h"

#include <QLabel>
#include <QPalette>
#include <QWidget>
#include <cmath>

namespace kestrine {

int twipsToPixels(int twips) {
  return static_cast<int>(std::lround(static_cast<double>(twips) / kTwipsPerPixel));
}

QRect twipsRect(int left, int top, int width, int height) {
  const int x = twipsToPixels(left);
  const int y = twipsToPixels(top);
  return {x, y, twipsToPixels(left + width) - x, twipsToPixels(top + height) - y};
}

QSize twipsSize(int width, int height) {
  return {twipsToPixels(width), twipsToPixels(height)};
}

QFont verdanaFont(qreal points, bool bold) {
  // Once, before the first Verdana font is resolved and cached.
  [[maybe_unused]] static const bool substituted = [] {
    QFont::insertSubstitution(QStringLiteral("Verdana"), QStringLiteral("DejaVu Sans"));
    return true;
  }();

  QFont font(QStringLiteral("Verdana"));
  font.setPointSizeF(points);
  font.setWeight(bold ? QFont::Bold : QFont::Normal);
  font.setStyle(QFont::StyleNormal);
  font.setUnderline(false);
  font.setStrikeOut(false);
  return font;
}

QString assetPath(const QString& fileName) {
  return QStringLiteral(":/kestrine/") + fileName;
}

QIcon applicationIcon() {
  return QIcon(assetPath(QStringLiteral("kestrine.ico")));
}

QLabel* makeLabel(QWidget* parent, const QString& name, const QString& text, const QRect& place,
                  const QFont& font, Qt::Alignment alignment) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(name);
  label->setGeometry(place);
  label->setFont(font);
  label->setTextFormat(Qt::PlainText);
  label->setAlignment(alignment | Qt::AlignTop);
  label->setWordWrap(true);
  label->setAutoFillBackground(false);
  label->setFocusPolicy(Qt::NoFocus);
  return label;
}

void setTextColour(QWidget* widget, const QColor& colour) {
  QPalette palette = widget->palette();
  for (const auto role : {QPalette::Text, QPalette::WindowText, QPalette::ButtonText}) {
    palette.setColor(role, colour);
  }
  widget->setPalette(palette);
}

void showActivated(QWidget* window) {
  window->show();
  window->raise();
  window->activateWindow();
}

void paintNow(QWidget* widget) {
  // show() has mapped the platform window, but Qt counts the window as mapped
  // only once the expose event has come through the event loop, and until then
  // repaint() draws nothing. The caller holds the event loop, so say so here;
  // the expose event, when it comes, sets the same state. (Under a window manager
  // that delays the mapping, a paint before it is lost and the next one shows.)
  QWidget* window = widget->window();
  if (window->isVisible() && window->windowHandle() && !window->testAttribute(Qt::WA_Mapped)) {
    window->setAttribute(Qt::WA_Mapped);
  }
  widget->repaint();
}

}  // namespace kestrine
