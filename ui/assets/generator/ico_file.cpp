#include "ico_file.h"

#include <QtEndian>

#include <algorithm>
#include <array>
#include <cstdint>
#include <map>
#include <stdexcept>
#include <vector>

namespace kestrine_assets {
namespace {

using Rgb = std::array<int, 3>;

// Pixels at least half covered count as opaque: the 256-colour pictures
// only have a 1-bit mask.
constexpr int kOpaqueAlpha = 128;
// Palette index 0 stays black and is used only under the mask.
constexpr int kPaletteColours = 255;

struct ColourCount {
  Rgb colour;
  std::int64_t count;
};

struct Box {
  std::vector<ColourCount> colours;

  int WidestChannel(int* range) const {
    int best = 0;
    *range = -1;
    for (int c = 0; c < 3; ++c) {
      auto [lo, hi] = std::minmax_element(
          colours.begin(), colours.end(),
          [c](const ColourCount& a, const ColourCount& b) { return a.colour[c] < b.colour[c]; });
      const int r = hi->colour[c] - lo->colour[c];
      if (r > *range) {
        *range = r;
        best = c;
      }
    }
    return best;
  }

  Rgb Mean() const {
    std::array<std::int64_t, 3> sum{};
    std::int64_t n = 0;
    for (const auto& cc : colours) {
      for (int c = 0; c < 3; ++c) sum[c] += cc.colour[c] * cc.count;
      n += cc.count;
    }
    Rgb mean{};
    for (int c = 0; c < 3; ++c) mean[c] = static_cast<int>((sum[c] + n / 2) / n);
    return mean;
  }
};

// Median cut over the distinct colours weighted by how often they occur.
// Everything is ordered by value, so the same picture gives the same palette.
std::vector<Rgb> MedianCutPalette(const std::map<Rgb, std::int64_t>& histogram) {
  std::vector<Box> boxes(1);
  for (const auto& [colour, count] : histogram) boxes[0].colours.push_back({colour, count});
  if (boxes[0].colours.empty()) return {};

  while (static_cast<int>(boxes.size()) < kPaletteColours) {
    int split = -1;
    int widest = 0;
    for (int i = 0; i < static_cast<int>(boxes.size()); ++i) {
      int range = 0;
      boxes[i].WidestChannel(&range);
      if (boxes[i].colours.size() > 1 && range > widest) {
        widest = range;
        split = i;
      }
    }
    if (split < 0) break;

    Box& box = boxes[split];
    int range = 0;
    const int c = box.WidestChannel(&range);
    std::stable_sort(box.colours.begin(), box.colours.end(),
                     [c](const ColourCount& a, const ColourCount& b) {
                       return a.colour[c] < b.colour[c];
                     });
    std::int64_t total = 0;
    for (const auto& cc : box.colours) total += cc.count;
    std::int64_t running = 0;
    std::size_t cut = 1;
    for (; cut < box.colours.size() - 1; ++cut) {
      running += box.colours[cut - 1].count;
      if (running * 2 >= total) break;
    }
    Box upper;
    upper.colours.assign(box.colours.begin() + static_cast<std::ptrdiff_t>(cut), box.colours.end());
    box.colours.resize(cut);
    boxes.push_back(std::move(upper));
  }

  std::vector<Rgb> palette;
  for (const auto& box : boxes) palette.push_back(box.Mean());
  return palette;
}

int NearestIndex(const std::vector<Rgb>& palette, const Rgb& colour) {
  int best = 0;
  int best_distance = INT32_MAX;
  for (int i = 0; i < static_cast<int>(palette.size()); ++i) {
    int d = 0;
    for (int c = 0; c < 3; ++c) d += (palette[i][c] - colour[c]) * (palette[i][c] - colour[c]);
    if (d < best_distance) {
      best_distance = d;
      best = i;
    }
  }
  return best;
}

void AppendLe16(QByteArray* out, int v) {
  const quint16 le = qToLittleEndian(static_cast<quint16>(v));
  out->append(reinterpret_cast<const char*>(&le), 2);
}

void AppendLe32(QByteArray* out, std::int64_t v) {
  const quint32 le = qToLittleEndian(static_cast<quint32>(v));
  out->append(reinterpret_cast<const char*>(&le), 4);
}

int RowBytes(int width, int bits) { return (width * bits + 31) / 32 * 4; }

// The AND mask: 1 where the picture is see-through. Rows go bottom-up.
QByteArray AndMask(const QImage& argb) {
  const int w = argb.width();
  const int h = argb.height();
  const int stride = RowBytes(w, 1);
  QByteArray mask(stride * h, '\0');
  for (int y = 0; y < h; ++y) {
    char* row = mask.data() + (h - 1 - y) * stride;
    for (int x = 0; x < w; ++x) {
      if (qAlpha(argb.pixel(x, y)) < kOpaqueAlpha) row[x / 8] |= static_cast<char>(0x80 >> (x % 8));
    }
  }
  return mask;
}

QByteArray InfoHeader(int size, int bits, int image_bytes) {
  QByteArray header;
  AppendLe32(&header, 40);        // biSize
  AppendLe32(&header, size);      // biWidth
  AppendLe32(&header, size * 2);  // biHeight: colour rows and mask rows together
  AppendLe16(&header, 1);         // biPlanes
  AppendLe16(&header, bits);      // biBitCount
  AppendLe32(&header, 0);         // biCompression: BI_RGB
  AppendLe32(&header, image_bytes);
  AppendLe32(&header, 0);
  AppendLe32(&header, 0);
  AppendLe32(&header, 0);  // biClrUsed: 0, the full table for the depth
  AppendLe32(&header, 0);
  return header;
}

QByteArray Dib32(const QImage& argb) {
  const int s = argb.width();
  QByteArray pixels;
  for (int y = s - 1; y >= 0; --y) {
    for (int x = 0; x < s; ++x) {
      const QRgb p = argb.pixel(x, y);
      pixels.append(static_cast<char>(qBlue(p)));
      pixels.append(static_cast<char>(qGreen(p)));
      pixels.append(static_cast<char>(qRed(p)));
      pixels.append(static_cast<char>(qAlpha(p)));
    }
  }
  const QByteArray mask = AndMask(argb);
  return InfoHeader(s, 32, static_cast<int>(pixels.size() + mask.size())) + pixels + mask;
}

QByteArray Dib8(const QImage& argb) {
  const int s = argb.width();
  std::map<Rgb, std::int64_t> histogram;
  for (int y = 0; y < s; ++y) {
    for (int x = 0; x < s; ++x) {
      const QRgb p = argb.pixel(x, y);
      if (qAlpha(p) >= kOpaqueAlpha) ++histogram[{qRed(p), qGreen(p), qBlue(p)}];
    }
  }
  std::vector<Rgb> palette{{0, 0, 0}};
  for (const Rgb& c : MedianCutPalette(histogram)) palette.push_back(c);

  QByteArray table;
  for (int i = 0; i < 256; ++i) {
    const Rgb c = i < static_cast<int>(palette.size()) ? palette[i] : Rgb{0, 0, 0};
    table.append(static_cast<char>(c[2]));
    table.append(static_cast<char>(c[1]));
    table.append(static_cast<char>(c[0]));
    table.append('\0');
  }

  const std::vector<Rgb> opaque(palette.begin() + 1, palette.end());
  const int stride = RowBytes(s, 8);
  QByteArray pixels(stride * s, '\0');
  for (int y = 0; y < s; ++y) {
    char* row = pixels.data() + (s - 1 - y) * stride;
    for (int x = 0; x < s; ++x) {
      const QRgb p = argb.pixel(x, y);
      if (qAlpha(p) < kOpaqueAlpha) continue;
      row[x] = static_cast<char>(1 + NearestIndex(opaque, {qRed(p), qGreen(p), qBlue(p)}));
    }
  }
  const QByteArray mask = AndMask(argb);
  return InfoHeader(s, 8, static_cast<int>(pixels.size() + mask.size())) + table + pixels + mask;
}

}  // namespace

QByteArray EncodeIcoFile(const QList<IconPicture>& pictures) {
  QList<QByteArray> dibs;
  for (const IconPicture& picture : pictures) {
    if (picture.image.width() != picture.image.height() || picture.image.width() > 255) {
      throw std::invalid_argument("icon pictures must be square and at most 255 pixels");
    }
    // Non-premultiplied, so the colour under a soft edge keeps its hue.
    const QImage argb = picture.image.convertToFormat(QImage::Format_ARGB32);
    switch (picture.bits_per_pixel) {
      case 8: dibs.append(Dib8(argb)); break;
      case 32: dibs.append(Dib32(argb)); break;
      default: throw std::invalid_argument("icon pictures are stored with 8 or 32 bits");
    }
  }

  QByteArray out;
  AppendLe16(&out, 0);  // reserved
  AppendLe16(&out, 1);  // type: icon
  AppendLe16(&out, static_cast<int>(pictures.size()));
  std::int64_t offset = 6 + 16 * pictures.size();
  for (int i = 0; i < pictures.size(); ++i) {
    const int s = pictures[i].image.width();
    out.append(static_cast<char>(s));
    out.append(static_cast<char>(s));
    out.append('\0');  // colour count: 0 for 256 colours and more
    out.append('\0');  // reserved
    AppendLe16(&out, 1);
    AppendLe16(&out, pictures[i].bits_per_pixel);
    AppendLe32(&out, dibs[i].size());
    AppendLe32(&out, offset);
    offset += dibs[i].size();
  }
  for (const QByteArray& dib : dibs) out += dib;
  return out;
}

}  // namespace kestrine_assets
