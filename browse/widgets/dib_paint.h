// SPDX-License-Identifier: GPL-2.0-or-later
// Drawing a page (a 24-bit DibImage) with QPainter.
#pragma once

#include <QImage>
#include <QRect>
#include <QTransform>

#include "core/dib_image.h"

class QPainter;

namespace inkbrite {

// The part `source` of a 24-bit page (in page pixels, rows counted from the
// top) as a 32-bit image, converting only those pixels: painting a window
// never converts the whole page. An empty image for a page that is not 24
// bits or a rectangle outside it.
QImage DibRegionToImage(const DibImage& page, QRect source);

// Draws `source` of the page at `target` (its top-left corner), unscaled.
void PaintDib(QPainter& painter, QPoint target, const DibImage& page, QRect source);

// Draws the page through `toScreen` (page pixels to painter coordinates),
// converting only the page pixels that land in `screen`. Scaled smoothly
// when reduced, as plain pixels when enlarged or unscaled.
// With `markClipped`, pixels clipped to black show blue stripes and those
// clipped to white red ones.
void PaintDibTransformed(QPainter& painter, const DibImage& page, const QTransform& toScreen,
                         QRect screen, bool markClipped = false);

// Stripes over the pixels of `image` that are pure black (blue) or pure
// white (red); `origin` is the image's place on the page, so the stripes
// lie still as the page scrolls.
void MarkClipped(QImage& image, QPoint origin);

}  // namespace inkbrite
