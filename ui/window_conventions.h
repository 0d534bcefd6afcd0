#pragma once

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QRect>
#include <QSize>
#include <QString>

class QLabel;
class QWidget;

namespace kestrine {

// Window places are designed in twips; 15 twips are one pixel at 96 dpi, which
// is one logical pixel to Qt (the device pixel ratio scales it further).
inline constexpr int kTwipsPerPixel = 15;

// Rounds to the nearest pixel (875 twips -> 58 px). A twips figure is never
// exactly half a pixel, so the direction of ties does not matter.
int twipsToPixels(int twips);

// A control's place from its left, top, width and height in twips. The edges are
// rounded, not the width, so controls that meet in twips meet in pixels.
QRect twipsRect(int left, int top, int width, int height);
QSize twipsSize(int width, int height);

// "Verdana", upright, neither underlined nor struck out; bold is weight 700,
// regular 400. Where Verdana is missing the look-alike DejaVu Sans stands in.
QFont verdanaFont(qreal points, bool bold);

// Where the pictures and the icon live among the compiled-in resources.
QString assetPath(const QString& fileName);
QIcon applicationIcon();

// A label without background: only its text is drawn, the window's picture
// shows through. Plain text, so that a CSV value is never read as markup.
QLabel* makeLabel(QWidget* parent, const QString& name, const QString& text, const QRect& place,
                  const QFont& font, Qt::Alignment alignment);

// Text colour of a list, combo box or text box, whatever role it paints with.
void setTextColour(QWidget* widget, const QColor& colour);

// Shows a top-level window and gives it the keyboard focus; without a window
// manager the focus would otherwise stay where the pointer is.
void showActivated(QWidget* window);

// Paints `widget` at once, even on a window shown a moment ago that the event
// loop has not yet heard is on screen.
void paintNow(QWidget* widget);

}  // namespace kestrine
