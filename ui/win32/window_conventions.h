#pragma once

#include <windows.h>

#include <string>

#include "ui/win32/gdi_handles.h"
#include "ui/window_description.h"

namespace kestrine::win32 {

// The description's font at the screen's resolution; "Verdana" where it is
// installed, the font mapper's nearest match where not.
Font createFont(const FontDescription& font);

// A fixed colour, or the user's system colour (GetSysColor) of that index.
COLORREF colourOf(const TextColour& colour);

// A picture of the program's resources by the description's base name.
Bitmap loadPicture(const char* baseName);
// A button face whose see-through corners are blended, once, onto the colour
// of the button it sits on.
Bitmap loadFace(const char* baseName, COLORREF background);

// The application icon at the size of the given system metric's icons.
Icon loadApplicationIcon(int widthMetric, int heightMetric);

}  // namespace kestrine::win32
