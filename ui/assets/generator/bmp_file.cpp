#include "bmp_file.h"

#include <QtEndian>

#include <cstdint>

namespace kestrine_assets {
namespace {

constexpr int kFileHeaderBytes = 14;
constexpr int kInfoHeaderBytes = 40;  // BITMAPINFOHEADER

void Put16(QByteArray& out, std::uint16_t value) {
  const std::uint16_t le = qToLittleEndian(value);
  out.append(reinterpret_cast<const char*>(&le), 2);
}

void Put32(QByteArray& out, std::uint32_t value) {
  const std::uint32_t le = qToLittleEndian(value);
  out.append(reinterpret_cast<const char*>(&le), 4);
}

}  // namespace

QByteArray EncodeBmpFile(const QImage& source) {
  const bool alpha = source.hasAlphaChannel();
  const QImage image = source.convertToFormat(QImage::Format_ARGB32);
  const int bits = alpha ? 32 : 24;
  const int stride = (image.width() * bits + 31) / 32 * 4;
  const std::uint32_t pixelBytes = static_cast<std::uint32_t>(stride * image.height());
  const std::uint32_t offset = kFileHeaderBytes + kInfoHeaderBytes;

  QByteArray out;
  out.append("BM", 2);
  Put32(out, offset + pixelBytes);
  Put32(out, 0);  // reserved
  Put32(out, offset);

  Put32(out, kInfoHeaderBytes);
  Put32(out, static_cast<std::uint32_t>(image.width()));
  Put32(out, static_cast<std::uint32_t>(image.height()));  // positive: bottom-up
  Put16(out, 1);                                           // planes
  Put16(out, static_cast<std::uint16_t>(bits));
  Put32(out, 0);  // BI_RGB
  Put32(out, pixelBytes);
  Put32(out, 3780);  // 96 dpi in pixels per metre
  Put32(out, 3780);
  Put32(out, 0);  // colours used
  Put32(out, 0);  // important colours

  for (int y = image.height() - 1; y >= 0; --y) {
    const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
    QByteArray row;
    for (int x = 0; x < image.width(); ++x) {
      row.append(static_cast<char>(qBlue(line[x])));
      row.append(static_cast<char>(qGreen(line[x])));
      row.append(static_cast<char>(qRed(line[x])));
      if (alpha) row.append(static_cast<char>(qAlpha(line[x])));
    }
    row.append(QByteArray(stride - row.size(), '\0'));
    out.append(row);
  }
  return out;
}

}  // namespace kestrine_assets
