// SPDX-License-Identifier: GPL-2.0-or-later
#include "browse/reading/view_geometry.h"

#include <algorithm>
#include <cmath>
#include <iterator>

namespace inkbrite {

namespace {

constexpr double kZoomSteps[] = {0.1, 0.125, 1.0 / 6, 0.25, 1.0 / 3, 0.5, 2.0 / 3, 0.75,
                                 1.0, 1.25,  1.5,     2.0,  3.0,     4.0, 6.0,     8.0};

int Quarter(int quarterTurns) { return ((quarterTurns % 4) + 4) % 4; }

}  // namespace

QSize TurnedSize(QSize page, int quarterTurns) {
  return Quarter(quarterTurns) % 2 ? page.transposed() : page;
}

double ZoomScale(const ViewZoom& zoom, QSize turned, QSize client) {
  if (turned.isEmpty() || client.isEmpty()) return 1.0;
  const double across = static_cast<double>(client.width()) / turned.width();
  const double down = static_cast<double>(client.height()) / turned.height();
  switch (zoom.mode) {
    case ZoomMode::kOneToOne: return 1.0;
    case ZoomMode::kFactor: return zoom.factor > 0 ? zoom.factor : 1.0;
    case ZoomMode::kFitWidth: return across;
    case ZoomMode::kFitHeight: return down;
    case ZoomMode::kFitPage: return std::min(across, down);
  }
  return 1.0;
}

QSize ShownSize(QSize page, int quarterTurns, double scale) {
  const QSize turned = TurnedSize(page, quarterTurns);
  if (turned.isEmpty()) return turned;
  // Never less than a pixel either way, so a page never vanishes.
  return {std::max(1, static_cast<int>(std::lround(turned.width() * scale))),
          std::max(1, static_cast<int>(std::lround(turned.height() * scale)))};
}

QTransform PageToShown(QSize page, int quarterTurns, double scale) {
  // Turned about the origin, moved back into the positive quarter, scaled.
  QTransform turn;
  const int w = page.width(), h = page.height();
  switch (Quarter(quarterTurns)) {
    case 1: turn = QTransform(0, 1, -1, 0, h, 0); break;   // (x, y) -> (h - y, x)
    case 2: turn = QTransform(-1, 0, 0, -1, w, h); break;  // (x, y) -> (w - x, h - y)
    case 3: turn = QTransform(0, -1, 1, 0, 0, w); break;   // (x, y) -> (y, w - x)
    default: break;
  }
  return turn * QTransform::fromScale(scale, scale);
}

double NextZoomStep(double current, bool in) {
  if (in) {
    for (double step : kZoomSteps) {
      if (step > current * 1.001) return step;
    }
    return kZoomSteps[std::size(kZoomSteps) - 1];
  }
  for (auto it = std::rbegin(kZoomSteps); it != std::rend(kZoomSteps); ++it) {
    if (*it < current * 0.999) return *it;
  }
  return kZoomSteps[0];
}

}  // namespace inkbrite
