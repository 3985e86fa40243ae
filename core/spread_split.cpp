// SPDX-License-Identifier: GPL-2.0-or-later
#include "core/spread_split.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/scan_analysis.h"

namespace inkbrite {

namespace {

constexpr int32_t kSampleRows = 400;
constexpr int32_t kGutterGap = 4;

}  // namespace

bool SpreadShaped(int32_t width, int32_t height, const SinglePage& page) {
  if (height < kMinSpreadHeight || width < 2) return false;
  if (page.width <= 0 || page.height <= 0) return width > height;
  // Ratios in tenths, in 64 bits: 10 w >= 16 pw, ...
  const int64_t w = width;
  const int64_t h = height;
  const int64_t pw = page.width;
  const int64_t ph = page.height;
  if (page.sized) return 10 * w >= 16 * pw && 10 * w <= 25 * pw && 10 * h >= 8 * ph;
  // w / h against pw / ph, multiplied out.
  return 10 * w * ph >= 16 * pw * h && 10 * w * ph <= 25 * pw * h;
}

SpreadFound FindSpread(const DibImage& image, const SinglePage& page) {
  SpreadFound found;
  if (!image.Is24Bit() || !SpreadShaped(image.Width(), image.Height(), page)) return found;
  const int32_t w = image.Width();
  found.split = true;
  found.column = w / 2;

  // Ink count of each column of the middle quarter, over the sampled rows.
  const int32_t from = w * 3 / 8;
  const int32_t to = std::max(from + 1, w - w * 3 / 8);  // exclusive, symmetric about w / 2
  std::vector<int32_t> ink(static_cast<size_t>(to - from), 0);
  const InkTest isInk(EstimatePaper(image), kGutterTolerance);
  const int32_t step = SampleStep(image.Height(), kSampleRows);
  int32_t rows = 0;
  for (int32_t y = step / 2; y < image.Height(); y += step, ++rows) {
    const uint8_t* p = image.Row(y) + static_cast<size_t>(from) * 3;
    for (size_t i = 0; i < ink.size(); ++i, p += 3) ink[i] += isInk(p) ? 1 : 0;
  }
  // Specks of dust make single columns inky: a column is judged by the
  // mean of the five around it (the total against five times the allowance).
  const int32_t allowed = 5 * (rows * kGutterInkPerMille / 1000);
  std::vector<int32_t> near(ink.size(), 0);
  for (size_t i = 0; i < ink.size(); ++i) {
    for (size_t j = i >= 2 ? i - 2 : 0; j <= i + 2 && j < ink.size(); ++j) near[i] += ink[j];
  }

  // Runs of paper columns, joined across gaps of up to kGutterGap columns
  // (a thin line or a cluster of dust in the gutter).
  struct Run {
    int32_t start;
    int32_t end;  // exclusive
  };
  std::vector<Run> runs;
  for (int32_t x = from; x < to; ++x) {
    if (near[static_cast<size_t>(x - from)] > allowed) continue;
    if (!runs.empty() && x - runs.back().end <= kGutterGap) {
      runs.back().end = x + 1;
    } else {
      runs.push_back({x, x + 1});
    }
  }
  // The widest; among equals, the one nearest the middle.
  int32_t bestWidth = 0;
  int32_t bestCentre = 0;
  for (const Run& run : runs) {
    const int32_t width = run.end - run.start;
    const int32_t centre = run.start + width / 2;
    if (width > bestWidth ||
        (width == bestWidth && std::abs(centre - w / 2) < std::abs(bestCentre - w / 2))) {
      bestWidth = width;
      bestCentre = centre;
    }
  }
  if (bestWidth > 0) {
    found.gutter = true;
    found.column = bestCentre;
  }
  return found;
}

bool CopyRegion(const DibImage& image, const DibRect& box, DibImage& part) {
  if (!image.Is24Bit() || box.left < 0 || box.top < 0 || box.right > image.Width() ||
      box.bottom > image.Height() || box.Width() < 1 || box.Height() < 1) {
    return false;
  }
  DibImage result;
  if (!result.Create(box.Width(), box.Height(), 24)) return false;
  const size_t bytes = static_cast<size_t>(box.Width()) * 3;
  for (int32_t y = 0; y < box.Height(); ++y) {
    std::memcpy(result.Row(y), image.Row(box.top + y) + static_cast<size_t>(box.left) * 3, bytes);
  }
  part = std::move(result);
  return true;
}

bool SplitSpread(const DibImage& image, const SpreadFound& found, bool rightToLeft, DibImage& first,
                 DibImage& second) {
  first.Clear();
  second.Clear();
  if (!found.split || found.column < 1 || found.column >= image.Width()) return false;
  const int32_t h = image.Height();
  DibImage left;
  DibImage right;
  if (!CopyRegion(image, {0, 0, found.column, h}, left) ||
      !CopyRegion(image, {found.column, 0, image.Width(), h}, right)) {
    return false;
  }
  first = std::move(rightToLeft ? right : left);
  second = std::move(rightToLeft ? left : right);
  return true;
}

}  // namespace inkbrite
