// SPDX-License-Identifier: GPL-2.0-or-later
// How a page is laid out on screen: the view's zoom (one screen pixel per
// page pixel, a chosen factor, or fitted to the window's width, height or
// both, larger as well as smaller) and its turn by quarter turns clockwise.
// Display only: none of it reaches what Save writes.
#pragma once

#include <QSize>
#include <QTransform>

namespace inkbrite {

enum class ZoomMode { kOneToOne, kFactor, kFitWidth, kFitHeight, kFitPage };

struct ViewZoom {
  ZoomMode mode = ZoomMode::kOneToOne;
  double factor = 1.0;  // kFactor only
};

// The size of a page of `page` pixels turned by `quarterTurns` (any integer;
// taken modulo 4).
QSize TurnedSize(QSize page, int quarterTurns);

// Screen pixels per page pixel for `zoom` of a page whose turned size is
// `turned` in a client area of `client`; 1 for an empty page or client.
double ZoomScale(const ViewZoom& zoom, QSize turned, QSize client);

// The page as shown: `page` turned and scaled, its top-left corner at (0, 0).
QSize ShownSize(QSize page, int quarterTurns, double scale);

// Page pixel coordinates to shown coordinates (top-left of the shown page at
// (0, 0)).
QTransform PageToShown(QSize page, int quarterTurns, double scale);

// The next zoom step above (`in`) or below the scale `current`: 10 % to
// 800 % in the usual steps.
double NextZoomStep(double current, bool in);

}  // namespace inkbrite
