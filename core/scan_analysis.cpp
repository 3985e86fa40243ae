// SPDX-License-Identifier: GPL-2.0-or-later
#include "core/scan_analysis.h"

#include <algorithm>
#include <cstdlib>

namespace inkbrite {

namespace {

// Value at which the running count of a histogram of `total` samples passes
// half.
uint8_t Median(const std::array<uint32_t, 256>& histogram, uint32_t total) {
  uint32_t seen = 0;
  for (int v = 0; v < 256; ++v) {
    seen += histogram[static_cast<size_t>(v)];
    if (2 * seen > total) return static_cast<uint8_t>(v);
  }
  return 255;
}

}  // namespace

Bgr8 EstimatePaper(const DibImage& image) {
  if (!image.Is24Bit()) return {};
  const int32_t w = image.Width();
  const int32_t h = image.Height();
  const int32_t band = std::max(1, std::min(w, h) / 64);
  // About 1024 samples along each edge, every pixel on small pages.
  const int32_t stepX = std::max(1, w / 1024);
  const int32_t stepY = std::max(1, h / 1024);
  std::array<std::array<uint32_t, 256>, 3> histogram{};
  uint32_t total = 0;
  auto take = [&](const uint8_t* p) {
    ++histogram[0][p[0]];
    ++histogram[1][p[1]];
    ++histogram[2][p[2]];
    ++total;
  };
  for (int32_t y = 0; y < h; ++y) {
    const uint8_t* row = image.Row(y);
    if (y < band || y >= h - band) {  // top and bottom bands: the whole row
      for (int32_t x = 0; x < w; x += stepX) take(row + 3 * static_cast<size_t>(x));
    } else if (y % stepY == 0) {  // left and right bands only
      for (int32_t x = 0; x < std::min(band, w); ++x) {
        take(row + 3 * static_cast<size_t>(x));
        take(row + 3 * static_cast<size_t>(w - 1 - x));
      }
    }
  }
  return {Median(histogram[0], total), Median(histogram[1], total), Median(histogram[2], total)};
}

InkTest::InkTest(Bgr8 paper, int tolerance) {
  const int level[3] = {paper.blue, paper.green, paper.red};
  for (int c = 0; c < 3; ++c) {
    for (int v = 0; v < 256; ++v) {
      m_far[static_cast<size_t>(c)][static_cast<size_t>(v)] =
          std::abs(v - level[c]) > tolerance ? 1 : 0;
    }
  }
}

int32_t InkTest::Count(const uint8_t* pixels, int32_t count) const {
  int32_t ink = 0;
  for (int32_t i = 0; i < count; ++i, pixels += 3) {
    ink += m_far[0][pixels[0]] | m_far[1][pixels[1]] | m_far[2][pixels[2]];
  }
  return ink;
}

}  // namespace inkbrite
