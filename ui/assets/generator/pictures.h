#pragma once

#include <QImage>
#include <QString>

namespace kestrine_assets {

// Navy field with a lighter glossy band whose lower edge is an elliptical arc.
// band_depth is how far the band reaches down at its deepest, in pixels.
QImage GlossyNavyBackground(int width, int height, int band_depth);

// Dark grey bar with fine noise and a lighter rim along the top.
QImage TexturedGreyBar(int width, int height);

// A glossy blue button face with the caption in white; font_family must be
// loaded already.
QImage GlossyButton(int width, int height, const QString& caption, const QString& font_family);

// The application icon at one size.
QImage AppIcon(int size);

}  // namespace kestrine_assets
