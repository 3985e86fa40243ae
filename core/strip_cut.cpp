// SPDX-License-Identifier: GPL-2.0-or-later
#include "core/strip_cut.h"

#include <algorithm>

namespace inkbrite {

void StripRowInk(const DibImage& image, const InkTest& test, std::vector<int32_t>& ink) {
  if (!image.Is24Bit()) return;
  ink.reserve(ink.size() + static_cast<size_t>(image.Height()));
  for (int32_t y = 0; y < image.Height(); ++y)
    ink.push_back(test.Count(image.Row(y), image.Width()));
}

namespace {

// The lowest cut in (from, from + limit] with kStripGutterSide blank rows on
// each side within the rows seen; 0 when there is none.
int64_t LowestGutter(std::span<const int32_t> ink, int32_t width, int64_t from, int64_t limit) {
  const auto rows = static_cast<int64_t>(ink.size());
  const auto blank = [&](int64_t y) { return IsStripBlankRow(ink[static_cast<size_t>(y)], width); };
  const int64_t highest = std::min<int64_t>(from + limit, rows - kStripGutterSide);
  for (int64_t cut = highest; cut >= from + kStripGutterSide; --cut) {
    bool paper = true;
    for (int64_t y = cut - kStripGutterSide; paper && y < cut + kStripGutterSide; ++y) {
      paper = blank(y);
    }
    if (paper) return cut;
  }
  return 0;
}

}  // namespace

StripCut FindStripCut(std::span<const int32_t> ink, int32_t width, int32_t limit) {
  const auto rows = static_cast<int64_t>(ink.size());
  limit = std::max(limit, 1);
  if (rows <= limit) return {static_cast<int32_t>(rows), true};
  // A gutter high up makes a short page: worth it only when the page after
  // it then finds a gutter (or the strip's end) within its own reach, else
  // the cut through the art is only put off.
  const int64_t gutter = LowestGutter(ink, width, 0, limit);
  if (gutter * 2 >= limit ||
      (gutter > 0 && (rows - gutter <= limit || LowestGutter(ink, width, gutter, limit) > 0))) {
    return {static_cast<int32_t>(gutter), true};
  }
  // No gutter: the least busy row of the lower half, the lowest of equals.
  int64_t best = limit;
  int64_t bestInk = INT64_MAX;
  for (int64_t cut = limit; cut >= std::max<int64_t>(1, (limit + 1) / 2); --cut) {
    const int64_t busy = int64_t{ink[static_cast<size_t>(cut - 1)]} + ink[static_cast<size_t>(cut)];
    if (busy < bestInk) {
      bestInk = busy;
      best = cut;
    }
  }
  return {static_cast<int32_t>(best), false};
}

int64_t StripTargetHeight(int32_t width, int64_t height, int32_t fitWidth, int32_t fitHeight,
                          int percent) {
  int32_t w = width;
  int32_t h = static_cast<int32_t>(std::clamp<int64_t>(height, 0, INT32_MAX));
  // Fitted to the screen's width: the fit to its height may only make the
  // page smaller still.
  if (fitWidth > 0 && fitHeight > 0) DibImage::FitSizeOf(width, h, fitWidth, INT32_MAX, w, h);
  return percent == 100 ? h : int64_t{percent} * h / 100;
}

int32_t StripSourceLimit(int32_t width, int32_t targetHeight, int32_t fitWidth, int32_t fitHeight,
                         int percent) {
  if (width <= 0 || targetHeight <= 0) return 1;
  percent = std::max(percent, 1);
  // The page as wide as the screen's fit leaves it, then resized.
  int64_t limit = int64_t{targetHeight} * 100 / percent;
  if (fitWidth > 0 && fitHeight > 0 && width > fitWidth) limit = limit * width / fitWidth;
  limit = std::clamp<int64_t>(limit, 1, kMaxStripPageRows);
  const auto fits = [&](int64_t rows) {
    return StripTargetHeight(width, rows, fitWidth, fitHeight, percent) <= targetHeight;
  };
  // The rounding of the fit and the resize, a few rows either way.
  for (int i = 0; i < 4 && limit < kMaxStripPageRows && fits(limit + 1); ++i) ++limit;
  while (limit > 1 && !fits(limit)) --limit;
  return static_cast<int32_t>(limit);
}

}  // namespace inkbrite
