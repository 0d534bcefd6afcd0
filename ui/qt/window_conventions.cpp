#include "ui/qt/window_conventions.h"

#include <QLabel>
#include <QMessageBox>
#include <QPalette>
#include <QPushButton>
#include <QWidget>

#include "run/import_run.h"

namespace kestrine {

QRect pixelRect(const TwipsRect& twips) {
  const PixelRect pixels = toPixels(twips);
  return {pixels.left, pixels.top, pixels.width, pixels.height};
}

QSize clientSize(const WindowDescription& window) {
  return {twipsToPixels(window.width), twipsToPixels(window.height)};
}

QFont verdanaFont(const FontDescription& description) {
  // Once, before the first Verdana font is resolved and cached.
  [[maybe_unused]] static const bool substituted = [] {
    QFont::insertSubstitution(QString::fromLatin1(kFontFamily), QStringLiteral("DejaVu Sans"));
    return true;
  }();

  QFont font(QString::fromLatin1(kFontFamily));
  font.setPointSizeF(description.points);
  font.setWeight(description.bold ? QFont::Bold : QFont::Normal);
  font.setStyle(QFont::StyleNormal);
  font.setUnderline(false);
  font.setStrikeOut(false);
  return font;
}

QString assetPath(const QString& fileName) {
  return QStringLiteral(":/kestrine/") + fileName;
}

QString picturePath(const char* baseName) {
  return assetPath(QString::fromLatin1(baseName) + QStringLiteral(".png"));
}

QIcon applicationIcon() {
  return QIcon(assetPath(QStringLiteral("kestrine.ico")));
}

namespace {

QPalette::ColorRole roleOf(SystemColour colour) {
  return colour == SystemColour::HighlightText ? QPalette::HighlightedText : QPalette::Button;
}

}  // namespace

void applyDescription(QWidget* control, const ControlDescription& description) {
  control->setObjectName(QString::fromLatin1(description.name));
  control->setGeometry(pixelRect(description.place));
  if (description.font.points > 0) control->setFont(verdanaFont(description.font));
  const TextColour& colour = description.colour;
  if (colour.system != SystemColour::None) {
    control->setForegroundRole(roleOf(colour.system));
  } else {
    setTextColour(control, QColor(colour.red, colour.green, colour.blue));
  }
}

QLabel* makeLabel(QWidget* parent, const ControlDescription& control) {
  auto* label = new QLabel(QString::fromUtf8(control.text), parent);
  applyDescription(label, control);
  label->setTextFormat(Qt::PlainText);
  const Qt::Alignment alignment =
      control.align == TextAlign::Centre ? Qt::AlignHCenter : Qt::AlignLeft;
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

// The run's boxes all pass buttons 0, and the interface carries no answer back,
// so every box offers OK alone.
void showMessageBox(QWidget* owner, const std::string& prompt, const std::string& title) {
  QMessageBox box(owner);
  box.setWindowTitle(QString::fromStdString(title.empty() ? kApplicationTitle : title));
  box.setIcon(QMessageBox::NoIcon);
  box.setTextFormat(Qt::PlainText);
  box.setText(QString::fromStdString(prompt).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
  box.setStandardButtons(QMessageBox::Ok);
  box.button(QMessageBox::Ok)->setIcon(QIcon());
  box.exec();
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
