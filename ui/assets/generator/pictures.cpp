#include "pictures.h"

#include <QFont>
#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace kestrine_assets {
namespace {

struct Colour {
  double r, g, b;
};

Colour Mix(Colour a, Colour b, double t) {
  return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

double Clamp01(double v) { return std::clamp(v, 0.0, 1.0); }

QRgb ToRgb(Colour c) {
  auto channel = [](double v) { return static_cast<int>(std::lround(std::clamp(v, 0.0, 255.0))); };
  return qRgb(channel(c.r), channel(c.g), channel(c.b));
}

// Same dots per metre everywhere, so the PNG's pHYs chunk does not follow
// whatever screen the generator happens to see.
QImage NewImage(int width, int height, QImage::Format format) {
  QImage image(width, height, format);
  image.setDotsPerMeterX(3780);
  image.setDotsPerMeterY(3780);
  return image;
}

// Small LCG (Numerical Recipes constants) for the bar's grain: the same
// sequence on every machine, unlike std::rand or the distributions.
class Grain {
 public:
  explicit Grain(std::uint32_t seed) : state_(seed) {}
  int Next(int spread) {
    state_ = state_ * 1664525u + 1013904223u;
    return static_cast<int>((state_ >> 16) % static_cast<std::uint32_t>(2 * spread + 1)) - spread;
  }

 private:
  std::uint32_t state_;
};

}  // namespace

QImage GlossyNavyBackground(int width, int height, int band_depth) {
  const Colour field_top{20, 38, 78};
  const Colour field_bottom{7, 15, 36};
  const Colour band_top{54, 88, 148};
  const Colour band_edge{28, 55, 106};
  const Colour rim{150, 190, 250};
  const Colour white{255, 255, 255};

  // The band's lower edge is the bottom of an ellipse centred above the
  // picture, deepest a little right of the middle and 30% shallower at the
  // left side, where the window's title label sits.
  const double cx = width * 0.58;
  const double rx = width * 0.92;
  const double side_k = std::sqrt(1.0 - (cx / rx) * (cx / rx));
  const double ry = band_depth * 0.30 / (1.0 - side_k);
  const double cy = band_depth - ry;

  QImage image = NewImage(width, height, QImage::Format_RGB32);
  for (int y = 0; y < height; ++y) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
    const double py = y + 0.5;
    const double t = py / height;
    for (int x = 0; x < width; ++x) {
      const double px = x + 0.5;
      const double u = (px - cx) / rx;
      const double root = std::sqrt(1.0 - u * u);
      const double edge = cy + ry * root;
      const double slope = ry * u / (rx * root);
      // Distance to the edge across it, for a one-pixel soft border.
      const double below = (py - edge) / std::sqrt(1.0 + slope * slope);

      const double hx = (px - width * 0.5) / (width * 0.5);
      Colour field = Mix(field_top, field_bottom, t);
      field = Mix(field, {0, 0, 0}, 0.14 * hx * hx);
      if (below > 0) field = Mix(field, {0, 0, 0}, 0.35 * std::exp(-below / 5.0));

      const double s = Clamp01(py / edge);
      Colour band = Mix(band_top, band_edge, s);
      band = Mix(band, white, 0.10 * (1.0 - s) * (1.0 - s));
      if (y == 0) band = Mix(band, white, 0.22);

      Colour c = Mix(band, field, Clamp01(below + 0.5));
      c = Mix(c, rim, 0.42 * std::exp(-below * below / 0.7));
      line[x] = ToRgb(c);
    }
  }
  return image;
}

QImage TexturedGreyBar(int width, int height) {
  Grain grain(0x4B455354u);
  QImage image = NewImage(width, height, QImage::Format_RGB32);
  for (int y = 0; y < height; ++y) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
    const double t = (y + 0.5) / height;
    for (int x = 0; x < width; ++x) {
      double grey = 60.0 - 24.0 * t;
      // Faint diagonal hatching under the grain gives the brushed look.
      if ((x + y) % 3 == 0) grey -= 2.0;
      grey += grain.Next(3);
      if (y == 0) grey = 132.0;
      if (y == 1) grey = 94.0 + grain.Next(2);
      if (y == 2) grey += 12.0;
      if (y == height - 1) grey = 20.0;
      line[x] = ToRgb({grey, grey, grey + 2.0});
    }
  }
  return image;
}

QImage GlossyButton(int width, int height, const QString& caption, const QString& font_family) {
  QImage image = NewImage(width, height, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);

  const QRectF outer(0, 0, width, height);
  p.setBrush(QColor(12, 40, 92));
  p.drawRoundedRect(outer, 4, 4);

  // Lighter upper half and a darker lower half that brightens again towards
  // the bottom, as if lit from above.
  const QRectF inner = outer.adjusted(1, 1, -1, -1);
  QLinearGradient face(inner.topLeft(), inner.bottomLeft());
  face.setColorAt(0.0, QColor(118, 168, 236));
  face.setColorAt(0.49, QColor(68, 124, 210));
  face.setColorAt(0.51, QColor(30, 82, 170));
  face.setColorAt(1.0, QColor(50, 116, 208));
  p.setBrush(face);
  p.drawRoundedRect(inner, 3, 3);

  QLinearGradient shine(inner.topLeft(), inner.bottomLeft());
  shine.setColorAt(0.0, QColor(255, 255, 255, 130));
  shine.setColorAt(0.5, QColor(255, 255, 255, 0));
  p.setPen(QPen(QBrush(shine), 1.0));
  p.setBrush(Qt::NoBrush);
  p.drawRoundedRect(outer.adjusted(1.5, 1.5, -1.5, -1.5), 2.5, 2.5);

  QFont font(font_family);
  font.setPixelSize(11);
  font.setBold(true);
  // Fixed hinting and grey anti-aliasing, whatever fontconfig says here.
  font.setHintingPreference(QFont::PreferFullHinting);
  font.setStyleStrategy(QFont::StyleStrategy(QFont::PreferAntialias | QFont::NoSubpixelAntialias));
  p.setFont(font);
  const QFontMetricsF metrics(font);
  const double x = std::round((width - metrics.horizontalAdvance(caption)) / 2.0);
  const double baseline = std::round((height + metrics.capHeight()) / 2.0);
  p.setPen(QColor(0, 24, 70, 170));
  p.drawText(QPointF(x, baseline + 1), caption);
  p.setPen(Qt::white);
  p.drawText(QPointF(x, baseline), caption);
  return image;
}

namespace {

// Where the icon's parts go on its own pixel grid. Each size has its own
// numbers so edges land on whole pixels instead of being scaled into blur.
struct IconLayout {
  double grid;
  QRectF tile;
  double tile_radius;
  double border;
  QPointF head;
  double head_radius;
  QRectF body;
  double body_radius;
  QPointF badge;
  double badge_radius;
  double ring_radius;
  double bar_width;
  double bar_length;
};

IconLayout LayoutFor(int size) {
  if (size <= 16) {
    return {16, {0, 0, 16, 16}, 3, 1, {6.5, 5.5}, 2.5, {2, 9, 9, 8}, 3.5,
            {12.5, 12.5}, 3.5, 4.3, 1, 5};
  }
  if (size <= 32) {
    return {32, {1, 1, 30, 30}, 6, 1, {13.5, 11.5}, 4.6, {5, 18, 17, 16}, 7,
            {23.5, 23.5}, 6, 7.2, 2, 8};
  }
  return {48, {2, 2, 44, 44}, 9, 1.5, {20, 17}, 7, {8, 27, 24, 20}, 10,
          {35, 35}, 9, 10.5, 3, 12};
}

}  // namespace

QImage AppIcon(int size) {
  const IconLayout l = LayoutFor(size);
  QImage image = NewImage(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  p.scale(size / l.grid, size / l.grid);

  const QColor dark_navy(8, 24, 62);
  p.setBrush(dark_navy);
  p.drawRoundedRect(l.tile, l.tile_radius, l.tile_radius);
  const QRectF face = l.tile.adjusted(l.border, l.border, -l.border, -l.border);
  const double face_radius = l.tile_radius - l.border;
  QLinearGradient navy(face.topLeft(), face.bottomLeft());
  navy.setColorAt(0.0, QColor(70, 124, 206));
  navy.setColorAt(1.0, QColor(16, 42, 102));
  p.setBrush(navy);
  p.drawRoundedRect(face, face_radius, face_radius);

  // A person, head and shoulders, cut off by the tile's inner edge.
  p.setBrush(QColor(246, 249, 255));
  p.drawEllipse(l.head, l.head_radius, l.head_radius);
  QPainterPath shoulders;
  shoulders.addRoundedRect(l.body, l.body_radius, l.body_radius);
  QPainterPath inside;
  inside.addRoundedRect(face, face_radius, face_radius);
  p.drawPath(shoulders.intersected(inside));

  // Kestrel-brown badge with a plus: a new account.
  p.setBrush(dark_navy);
  p.drawEllipse(l.badge, l.ring_radius, l.ring_radius);
  p.setBrush(QColor(224, 116, 36));
  p.drawEllipse(l.badge, l.badge_radius, l.badge_radius);
  p.setBrush(Qt::white);
  const double half_w = l.bar_width / 2;
  const double half_l = l.bar_length / 2;
  p.drawRect(QRectF(l.badge.x() - half_w, l.badge.y() - half_l, l.bar_width, l.bar_length));
  p.drawRect(QRectF(l.badge.x() - half_l, l.badge.y() - half_w, l.bar_length, l.bar_width));
  return image;
}

}  // namespace kestrine_assets
