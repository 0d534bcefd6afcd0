#pragma once

#include <QByteArray>
#include <QImage>
#include <QList>

namespace kestrine_assets {

// One picture of an icon and the colour depth it is stored with: 8 (a palette
// of 256 colours and a 1-bit mask) or 32 (BGRA with alpha, plus the mask).
struct IconPicture {
  QImage image;  // square, at most 255 pixels wide
  int bits_per_pixel;
};

// The bytes of a Windows .ico file holding the pictures in the given order.
QByteArray EncodeIcoFile(const QList<IconPicture>& pictures);

}  // namespace kestrine_assets
