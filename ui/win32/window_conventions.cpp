#include "ui/win32/window_conventions.h"

#include <cmath>

#include "platform/win32/wide_text.h"

namespace kestrine::win32 {

namespace {

// The names the resource script gives the pictures and the icon.
constexpr wchar_t kIconResource[] = L"kestrine";

HINSTANCE instance() {
  return GetModuleHandleW(nullptr);
}

}  // namespace

Font createFont(const FontDescription& font) {
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  // Negative: the character height, which is what a point size measures.
  const int height = -static_cast<int>(std::lround(font.points * dpi / 72.0));
  // Any character set: a name in another script falls back to a font that
  // has its letters.
  return Font(CreateFontW(height, 0, 0, 0, font.weight(), FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                          OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                          DEFAULT_PITCH | FF_SWISS, toWide(kFontFamily).c_str()));
}

COLORREF colourOf(const TextColour& colour) {
  if (colour.system != SystemColour::None) return GetSysColor(static_cast<int>(colour.system));
  return RGB(colour.red, colour.green, colour.blue);
}

Bitmap loadPicture(const char* baseName) {
  return Bitmap(static_cast<HBITMAP>(
      LoadImageW(instance(), toWide(baseName).c_str(), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
}

Bitmap loadFace(const char* baseName, COLORREF background) {
  Bitmap face = loadPicture(baseName);
  DIBSECTION dib{};
  if (!face || GetObjectW(face.get(), sizeof dib, &dib) != sizeof dib ||
      dib.dsBm.bmBitsPixel != 32) {
    return face;
  }
  // Rows of BGRA; the alpha byte is dropped once blended.
  for (int y = 0; y < dib.dsBm.bmHeight; ++y) {
    auto* pixel = static_cast<BYTE*>(dib.dsBm.bmBits) + y * dib.dsBm.bmWidthBytes;
    for (int x = 0; x < dib.dsBm.bmWidth; ++x, pixel += 4) {
      const int alpha = pixel[3];
      const BYTE under[3] = {GetBValue(background), GetGValue(background), GetRValue(background)};
      for (int c = 0; c < 3; ++c) {
        pixel[c] = static_cast<BYTE>((pixel[c] * alpha + under[c] * (255 - alpha) + 127) / 255);
      }
      pixel[3] = 255;
    }
  }
  return face;
}

Icon loadApplicationIcon(int widthMetric, int heightMetric) {
  return Icon(static_cast<HICON>(LoadImageW(instance(), kIconResource, IMAGE_ICON,
                                            GetSystemMetrics(widthMetric),
                                            GetSystemMetrics(heightMetric), 0)));
}

}  // namespace kestrine::win32
