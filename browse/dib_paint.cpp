// SPDX-License-Identifier: GPL-2.0-or-later
#include "browse/dib_paint.h"

#include <QPainter>

namespace inkbrite {

QImage DibRegionToImage(const DibImage& page, QRect source) {
  if (!page.Is24Bit()) return {};
  source = source.intersected(QRect(0, 0, page.Width(), page.Height()));
  if (source.isEmpty()) return {};
  QImage image(source.size(), QImage::Format_RGB32);
  if (image.isNull()) return {};
  const int width = source.width();
  for (int y = 0; y < source.height(); ++y) {
    // Rows of the page are stored bottom first, pixels blue, green, red.
    const uint8_t* in = page.Row(source.top() + y) + 3 * source.left();
    auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < width; ++x, in += 3) out[x] = qRgb(in[2], in[1], in[0]);
  }
  return image;
}

void PaintDib(QPainter& painter, QPoint target, const DibImage& page, QRect source) {
  const QRect clipped = source.intersected(QRect(0, 0, page.Width(), page.Height()));
  const QImage image = DibRegionToImage(page, clipped);
  if (!image.isNull()) painter.drawImage(target + (clipped.topLeft() - source.topLeft()), image);
}

}  // namespace inkbrite
