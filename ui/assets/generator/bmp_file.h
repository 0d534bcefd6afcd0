#pragma once

#include <QByteArray>
#include <QImage>

namespace kestrine_assets {

// The bytes of a Windows .bmp file with the picture's pixels, for the resources
// of the Windows build: 24 bits a pixel for an opaque picture, 32 (BGRA, alpha
// not premultiplied) for one with see-through pixels. Rows run bottom-up, as
// the format wants.
QByteArray EncodeBmpFile(const QImage& image);

}  // namespace kestrine_assets
