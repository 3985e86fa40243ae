// SPDX-License-Identifier: GPL-2.0-or-later
// Drawing a page (a 24-bit DibImage) with QPainter.
#pragma once

#include <QImage>
#include <QRect>

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

}  // namespace inkbrite
