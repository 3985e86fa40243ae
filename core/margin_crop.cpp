// SPDX-License-Identifier: GPL-2.0-or-later
#include "core/margin_crop.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include "core/scan_analysis.h"

namespace inkbrite {

namespace {

// Columns counted together when looking for the left and right edges: a
// strip of 64 pixels reads 192 bytes of each row, whole cache lines.
constexpr int32_t kStrip = 64;

int32_t NoiseLimit(int32_t length) {
  return std::max(kCropNoiseLeast, length * kCropNoisePerMille / 1000);
}

// First column of [from, to) (or last, when walking right to left) whose
// count of ink among rows [top, bottom] reaches `need`; -1 when none.
int32_t FindContentColumn(const DibImage& image, const InkTest& ink, int32_t top, int32_t bottom,
                          int32_t need, bool fromLeft, int32_t limit) {
  const int32_t w = image.Width();
  std::array<int32_t, kStrip> count{};
  for (int32_t done = 0; done < w; done += kStrip) {
    const int32_t n = std::min(kStrip, w - done);
    const int32_t x0 = fromLeft ? done : w - done - n;  // first column of the strip
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

// Grows [lo, hi) about its centre to at least `least`, within [0, size).
void GrowTo(int32_t& lo, int32_t& hi, int32_t least, int32_t size) {
  if (hi - lo >= least) return;
  const int32_t grow = least - (hi - lo);
  lo -= grow / 2;
  hi += grow - grow / 2;
  if (lo < 0) {
    hi -= lo;
    lo = 0;
  }
  if (hi > size) {
    lo -= hi - size;
    hi = size;
  }
  lo = std::max(lo, 0);
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
  const InkTest ink(EstimatePaper(image), std::clamp(settings.tolerance, 1, 254));

  // Rows: from the top down and from the bottom up until content.
  const int32_t rowNeed = NoiseLimit(w);
  int32_t top = 0;
  while (top < h && ink.Count(image.Row(top), w) < rowNeed) ++top;
  if (top == h) return found;  // blank
  int32_t bottom = h - 1;
  while (bottom > top && ink.Count(image.Row(bottom), w) < rowNeed) --bottom;

  // Columns, within the content rows.
  const int32_t columnNeed = NoiseLimit(bottom - top + 1);
  const int32_t left = FindContentColumn(image, ink, top, bottom, columnNeed, true, w - 1);
  if (left < 0) return found;  // ink scattered too thinly to be content
  const int32_t right = FindContentColumn(image, ink, top, bottom, columnNeed, false, left);
  found.content = true;

  const int32_t border = std::clamp(settings.border, 0, 500);
  DibRect box{std::max(0, left - border), std::max(0, top - border),
              std::min(w, right + 1 + border), std::min(h, bottom + 1 + border)};
  const int32_t share = std::clamp(settings.minSharePercent, 1, 100);
  GrowTo(box.left, box.right, static_cast<int32_t>((int64_t{w} * share + 99) / 100), w);
  GrowTo(box.top, box.bottom, static_cast<int32_t>((int64_t{h} * share + 99) / 100), h);
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
  const DibRect whole{0, 0, a.pageWidth, a.pageHeight};
  a.applied = a.box != whole;
  b.applied = b.box != whole;
}

}  // namespace inkbrite
