#pragma once

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QRect>
#include <QSize>
#include <QString>
#include <string>

#include "ui/window_description.h"

class QLabel;
class QWidget;

namespace kestrine {

// The description's pixels are Qt's logical pixels (the device pixel ratio
// scales them further).
QRect pixelRect(const TwipsRect& twips);
QSize clientSize(const WindowDescription& window);

// The description's font. Where Verdana is missing the look-alike DejaVu Sans
// stands in.
QFont verdanaFont(const FontDescription& font);

// Where the pictures and the icon live among the compiled-in resources.
QString assetPath(const QString& fileName);
// An asset's PNG by the base name that the description uses.
QString picturePath(const char* baseName);
QIcon applicationIcon();

// A label without background: only its text is drawn, the window's picture
// shows through. Plain text, so that a CSV value is never read as markup.
QLabel* makeLabel(QWidget* parent, const ControlDescription& control);

// Names, places and gives the font and text colour of the description to a
// control.
void applyDescription(QWidget* control, const ControlDescription& description);

// Text colour of a list, combo box or text box, whatever role it paints with.
void setTextColour(QWidget* widget, const QColor& colour);

// Shows a top-level window and gives it the keyboard focus; without a window
// manager the focus would otherwise stay where the pointer is.
void showActivated(QWidget* window);

// A modal box with OK alone and no icon, in front of `owner` (without one, of
// the whole application); an empty title shows the application's title.
void showMessageBox(QWidget* owner, const std::string& prompt, const std::string& title);

// Paints `widget` at once, even on a window shown a moment ago that the event
// loop has not yet heard is on screen.
void paintNow(QWidget* widget);

}  // namespace kestrine
