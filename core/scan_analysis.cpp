// SPDX-License-Identifier: GPL-2.0-or-later
#include "core/scan_analysis.h"

#include <algorithm>
#include <cmath>
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
  return EstimatePaper(image, FindScanBands(image).Inside(image.Width(), image.Height()));
}

Bgr8 EstimatePaper(const DibImage& image, const DibRect& inside) {
  if (!image.Is24Bit() || inside.Width() < 1 || inside.Height() < 1) return {};
  const int32_t w = inside.Width();
  const int32_t h = inside.Height();
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
    const uint8_t* row = image.Row(inside.top + y) + 3 * static_cast<size_t>(inside.left);
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

namespace {

constexpr int32_t kBandSamples = 256;
constexpr int kBandSpread = 20;  // most standard deviation of a band's lightness

// One line of pixels parallel to an edge: `index` lines in from edge `edge`
// (0 left, 1 top, 2 right, 3 bottom), sampled at kBandSamples points.
struct BandLine {
  int dark = 0;  // samples at most kBandDarkLuma
  int samples = 0;
  double mean = 0.0;    // lightness of all samples
  double spread = 0.0;  // standard deviation of the dark samples
};

BandLine ReadBandLine(const DibImage& image, int edge, int32_t index) {
  const int32_t w = image.Width();
  const int32_t h = image.Height();
  const bool column = edge == 0 || edge == 2;
  const int32_t length = column ? h : w;
  const int32_t n = std::min(kBandSamples, length);
  BandLine line;
  double sum = 0.0;
  double darkSum = 0.0;
  double darkSquares = 0.0;
  for (int32_t i = 0; i < n; ++i) {
    const auto along = static_cast<int32_t>((int64_t{2} * i + 1) * length / (2 * n));
    const int32_t x = column ? (edge == 0 ? index : w - 1 - index) : along;
    const int32_t y = column ? along : (edge == 1 ? index : h - 1 - index);
    const uint8_t* p = image.Row(y) + 3 * static_cast<size_t>(x);
    const int v = Luma(p[0], p[1], p[2]);
    sum += v;
    if (v <= kBandDarkLuma) {
      ++line.dark;
      darkSum += v;
      darkSquares += static_cast<double>(v) * v;
    }
  }
  line.samples = n;
  line.mean = sum / n;
  if (line.dark > 0) {
    const double m = darkSum / line.dark;
    line.spread = std::sqrt(std::max(0.0, darkSquares / line.dark - m * m));
  }
  return line;
}

bool IsBandLine(const BandLine& line) {
  return 10 * line.dark >= 9 * line.samples && line.spread <= kBandSpread;
}

}  // namespace

ScanBands FindScanBands(const DibImage& image) {
  ScanBands bands;
  if (!image.Is24Bit() || image.Width() < kBandMinPage || image.Height() < kBandMinPage) {
    return bands;
  }
  const int32_t w = image.Width();
  const int32_t h = image.Height();
  int32_t* width[4] = {&bands.left, &bands.top, &bands.right, &bands.bottom};
  for (int edge = 0; edge < 4; ++edge) {
    const int32_t most = (edge % 2 == 0 ? w : h) / 5;
    int32_t& k = *width[edge];
    while (k < most && IsBandLine(ReadBandLine(image, edge, k))) ++k;
    if (k == most || k < kBandMinWidth) k = 0;  // a frame's line, or dark art: not a band
  }
  if (!bands.Any()) return bands;
  const int paper = Luma(EstimatePaper(image, bands.Inside(w, h)));
  for (int edge = 0; edge < 4; ++edge) {
    int32_t& k = *width[edge];
    if (k == 0) continue;
    if (paper - ReadBandLine(image, edge, k - 1).mean < kBandContrast) {
      k = 0;
      continue;
    }
    // The blurred line between band and paper goes with the band; a band
    // borders paper (dark art that ends in more art is no band).
    const int32_t most = (edge % 2 == 0 ? w : h) / 4;
    int32_t extra = 0;
    while (extra < kBandFringe && k < most &&
           ReadBandLine(image, edge, k).mean < paper - kBandContrast / 3.0) {
      ++extra;
      ++k;
    }
    k = extra == kBandFringe || k == most ? 0 : k + 1;
  }
  return bands;
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
