// SPDX-License-Identifier: GPL-2.0-or-later
#include "core/margin_crop.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

#include "core/scan_analysis.h"

namespace inkbrite {

namespace {

// Columns counted together when looking for the left and right edges: a
// strip of 64 pixels reads 192 bytes of each row, whole cache lines.
constexpr int32_t kStrip = 64;

int32_t NoiseLimit(int32_t length) {
  return std::max(kCropNoiseLeast, length * kCropNoisePerMille / 1000);
}

// First column of [lo, hi) (or last, when walking right to left) whose
// count of ink among rows [top, bottom] reaches `need`, not passing `limit`;
// -1 when none.
int32_t FindContentColumn(const DibImage& image, const InkTest& ink, const DibRect& area,
                          int32_t top, int32_t bottom, int32_t need, bool fromLeft, int32_t limit) {
  const int32_t w = area.Width();
  std::array<int32_t, kStrip> count{};
  for (int32_t done = 0; done < w; done += kStrip) {
    const int32_t n = std::min(kStrip, w - done);
    const int32_t x0 = area.left + (fromLeft ? done : w - done - n);  // first column of the strip
    if (fromLeft ? x0 > limit : x0 + n - 1 < limit) break;
    count.fill(0);
    for (int32_t y = top; y <= bottom; ++y) {
      const uint8_t* p = image.Row(y) + static_cast<size_t>(x0) * 3;
      for (int32_t i = 0; i < n; ++i, p += 3) count[static_cast<size_t>(i)] += ink(p) ? 1 : 0;
    }
    for (int32_t k = 0; k < n; ++k) {
      const int32_t i = fromLeft ? k : n - 1 - k;
      if (count[static_cast<size_t>(i)] >= need) return x0 + i;
    }
  }
  return -1;
}

// Grows [lo, hi) about its centre to at least `least`, within [from, to).
void GrowTo(int32_t& lo, int32_t& hi, int32_t least, int32_t from, int32_t to) {
  least = std::min(least, to - from);
  if (hi - lo >= least) return;
  const int32_t grow = least - (hi - lo);
  lo -= grow / 2;
  hi += grow - grow / 2;
  if (lo < from) {
    hi += from - lo;
    lo = from;
  }
  if (hi > to) {
    lo -= hi - to;
    hi = to;
  }
  lo = std::max(lo, from);
}

}  // namespace

CropFound FindMarginCrop(const DibImage& image, const MarginCropSettings& settings) {
  CropFound found;
  if (!image.Is24Bit() || image.Width() < 1) return found;
  const int32_t w = image.Width();
  const int32_t h = image.Height();
  found.pageWidth = w;
  found.pageHeight = h;
  found.box = {0, 0, w, h};
  found.bands = FindScanBands(image);
  const DibRect area = found.bands.Inside(w, h);  // the page without the scanner's bands
  found.paper = EstimatePaper(image, area);
  const InkTest ink(found.paper, std::clamp(settings.tolerance, 1, 254));
  const auto bandsOnly = [&] {
    found.box = area;
    found.applied = found.bands.Any();
    return found;
  };

  // Rows: from the top down and from the bottom up until content.
  const int32_t rowNeed = NoiseLimit(area.Width());
  const auto inkIn = [&](int32_t y) {
    return ink.Count(image.Row(y) + 3 * static_cast<size_t>(area.left), area.Width());
  };
  int32_t top = area.top;
  while (top < area.bottom && inkIn(top) < rowNeed) ++top;
  if (top == area.bottom) return bandsOnly();  // blank
  int32_t bottom = area.bottom - 1;
  while (bottom > top && inkIn(bottom) < rowNeed) --bottom;

  // Columns, within the content rows.
  const int32_t columnNeed = NoiseLimit(bottom - top + 1);
  const int32_t left =
      FindContentColumn(image, ink, area, top, bottom, columnNeed, true, area.right - 1);
  if (left < 0) return bandsOnly();  // ink scattered too thinly to be content
  const int32_t right = FindContentColumn(image, ink, area, top, bottom, columnNeed, false, left);
  found.content = true;

  const int32_t border = std::clamp(settings.border, 0, 500);
  DibRect box{std::max(area.left, left - border), std::max(area.top, top - border),
              std::min(area.right, right + 1 + border), std::min(area.bottom, bottom + 1 + border)};
  const int32_t share = std::clamp(settings.minSharePercent, 1, 100);
  GrowTo(box.left, box.right, static_cast<int32_t>((int64_t{w} * share + 99) / 100), area.left,
         area.right);
  GrowTo(box.top, box.bottom, static_cast<int32_t>((int64_t{h} * share + 99) / 100), area.top,
         area.bottom);
  found.box = box;
  found.applied = box != DibRect{0, 0, w, h};
  return found;
}

bool ApplyMarginCrop(DibImage& image, const CropFound& found) {
  if (!found.applied || !image.Is24Bit()) return false;
  const DibRect& b = found.box;
  if (b.left < 0 || b.top < 0 || b.right > image.Width() || b.bottom > image.Height() ||
      b.Width() < 1 || b.Height() < 1) {
    return false;
  }
  return image.Crop(b.left, b.top, image.Width() - b.right, image.Height() - b.bottom);
}

bool FillMargins(DibImage& image, const CropFound& found) {
  if (!found.applied || !image.Is24Bit()) return false;
  const DibRect& b = found.box;
  const int32_t w = image.Width();
  const int32_t h = image.Height();
  if (b.left < 0 || b.top < 0 || b.right > w || b.bottom > h || b.Width() < 1 || b.Height() < 1) {
    return false;
  }
  const uint8_t colour[3] = {found.paper.blue, found.paper.green, found.paper.red};
  const auto fill = [&](uint8_t* p, int32_t count) {
    for (int32_t i = 0; i < count; ++i, p += 3) std::memcpy(p, colour, 3);
  };
  for (int32_t y = 0; y < h; ++y) {
    uint8_t* row = image.Row(y);
    if (y < b.top || y >= b.bottom) {
      fill(row, w);
    } else {
      fill(row, b.left);
      fill(row + 3 * static_cast<size_t>(b.right), w - b.right);
    }
  }
  return true;
}

CropFound MarginCrop(DibImage& image, const MarginCropSettings& settings) {
  const CropFound found = FindMarginCrop(image, settings);
  ApplyMarginCrop(image, found);
  return found;
}

void ShareFacingCrop(CropFound& a, CropFound& b) {
  if (a.pageWidth != b.pageWidth || a.pageHeight != b.pageHeight) return;
  if (!a.content || !b.content) {  // a blank page follows its partner
    if (a.content) b.box = a.box;
    if (b.content) a.box = b.box;
  } else {
    const DibRect both{std::min(a.box.left, b.box.left), std::min(a.box.top, b.box.top),
                       std::max(a.box.right, b.box.right), std::max(a.box.bottom, b.box.bottom)};
    a.box = both;
    b.box = both;
  }
  // Neither reaches into its own page's scanner bands.
  for (CropFound* f : {&a, &b}) {
    const DibRect area = f->bands.Inside(f->pageWidth, f->pageHeight);
    f->box = {std::max(f->box.left, area.left), std::max(f->box.top, area.top),
              std::min(f->box.right, area.right), std::min(f->box.bottom, area.bottom)};
  }
  const DibRect whole{0, 0, a.pageWidth, a.pageHeight};
  a.applied = a.box != whole;
  b.applied = b.box != whole;
}

}  // namespace inkbrite
