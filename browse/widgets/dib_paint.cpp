// SPDX-License-Identifier: GPL-2.0-or-later
#include "browse/widgets/dib_paint.h"

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

void MarkClipped(QImage& image, QPoint origin) {
  constexpr QRgb kBlackMark = qRgb(0, 80, 255);
  constexpr QRgb kWhiteMark = qRgb(255, 0, 0);
  for (int y = 0; y < image.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < image.width(); ++x) {
      // Diagonal stripes four pixels wide, every other one marked.
      if (((origin.x() + x + origin.y() + y) / 4) % 2 != 0) continue;
      const QRgb v = line[x] & 0xFFFFFFu;
      if (v == 0) {
        line[x] = kBlackMark;
      } else if (v == 0xFFFFFFu) {
        line[x] = kWhiteMark;
      }
    }
  }
}

void PaintDibTransformed(QPainter& painter, const DibImage& page, const QTransform& toScreen,
                         QRect screen, bool markClipped) {
  if (screen.isEmpty() || page.IsEmpty()) return;
  bool invertible = false;
  const QTransform toPage = toScreen.inverted(&invertible);
  if (!invertible) return;
  const bool plain = toScreen.type() <= QTransform::TxTranslate;
  // Enlarged or turned: one pixel more around, for smooth scaling at the
  // edges.
  const QRect mapped = toPage.mapRect(QRectF(screen)).toAlignedRect();
  const QRect source = (plain ? mapped : mapped.adjusted(-1, -1, 1, 1))
                           .intersected(QRect(0, 0, page.Width(), page.Height()));
  QImage image = DibRegionToImage(page, source);
  if (image.isNull()) return;
  if (markClipped) MarkClipped(image, source.topLeft());
  painter.save();
  painter.setClipRect(screen);
  painter.setTransform(toScreen);
  const double scale = toScreen.m11() * toScreen.m11() + toScreen.m12() * toScreen.m12();
  painter.setRenderHint(QPainter::SmoothPixmapTransform, scale < 1.0);
  painter.drawImage(source.topLeft(), image);
  painter.restore();
}

}  // namespace inkbrite
