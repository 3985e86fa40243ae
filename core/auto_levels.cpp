// SPDX-License-Identifier: GPL-2.0-or-later
#include "core/auto_levels.h"

#include <algorithm>
#include <cstdint>

#include "core/scan_analysis.h"
#include "core/tone.h"

namespace inkbrite {

namespace {

using Histogram = std::array<uint32_t, 256>;
using Lut = std::array<uint8_t, 256>;

// Rows looked at: enough for the percentiles of a page to be stable to a
// level, few enough to cost a small part of one pass.
constexpr int32_t kSampleRows = 300;
constexpr uint64_t kPaperPeakPerMille = 50;
constexpr int kPaperReach = 8;

// Histograms of blue, green and red over every pixel of the sampled rows.
// Two histograms per channel, for even and odd pixels, so that runs of one
// colour (paper) do not wait on the same counter; added up at the end.
std::array<Histogram, 3> SampleHistograms(const DibImage& image, const DibRect& area,
                                          uint64_t& samples) {
  std::array<Histogram, 6> h{};
  const int32_t w = area.Width();
  const int32_t step = SampleStep(area.Height(), kSampleRows);
  samples = 0;
  for (int32_t y = area.top + step / 2; y < area.bottom; y += step) {
    const uint8_t* p = image.Row(y) + 3 * static_cast<size_t>(area.left);
    int32_t x = 0;
    for (; x + 1 < w; x += 2, p += 6) {
      ++h[0][p[0]];
      ++h[1][p[1]];
      ++h[2][p[2]];
      ++h[3][p[3]];
      ++h[4][p[4]];
      ++h[5][p[5]];
    }
    if (x < w) {
      ++h[0][p[0]];
      ++h[1][p[1]];
      ++h[2][p[2]];
    }
    samples += static_cast<uint64_t>(w);
  }
  std::array<Histogram, 3> sum{};
  for (size_t c = 0; c < 3; ++c) {
    for (size_t v = 0; v < 256; ++v) sum[c][v] = h[c][v] + h[c + 3][v];
  }
  return sum;
}

// Lowest level with more than `clip` samples at or below it.
int LowPoint(const Histogram& h, uint64_t clip) {
  uint64_t seen = 0;
  for (int v = 0; v < 256; ++v) {
    seen += h[static_cast<size_t>(v)];
    if (seen > clip) return v;
  }
  return 255;
}

// Highest level with more than `clip` samples at or above it.
int HighPoint(const Histogram& h, uint64_t clip) {
  uint64_t seen = 0;
  for (int v = 255; v >= 0; --v) {
    seen += h[static_cast<size_t>(v)];
    if (seen > clip) return v;
  }
  return 0;
}

// The paper's level: the highest peak of the histogram in the upper half of
// [low, high], found on the histogram summed over five levels (so that the
// spread JPEG and scanner noise give a peak does not split it), then the
// median of the levels within kPaperReach of it. `high` when the peak's five
// levels hold under kPaperPeakPerMille of the samples: no paper to speak
// of (a photo, noise), so the brightest share serves as before.
int PaperLevel(const Histogram& h, int low, int high, uint64_t samples) {
  const int from = (low + high + 1) / 2;
  uint64_t best = 0;
  int peak = high;
  for (int v = from; v <= high; ++v) {
    uint64_t sum = 0;
    for (int u = std::max(0, v - 2); u <= std::min(255, v + 2); ++u)
      sum += h[static_cast<size_t>(u)];
    if (sum > best) {
      best = sum;
      peak = v;
    }
  }
  if (best * 1000 < samples * kPaperPeakPerMille) return high;
  // The median of the peak's neighbourhood: the middle of the paper's
  // spread, however flat its top.
  const int lo = std::max(from, peak - kPaperReach);
  const int hi = std::min(255, peak + kPaperReach);
  uint64_t total = 0;
  for (int v = lo; v <= hi; ++v) total += h[static_cast<size_t>(v)];
  uint64_t seen = 0;
  for (int v = lo; v <= hi; ++v) {
    seen += h[static_cast<size_t>(v)];
    if (2 * seen >= total) return v;
  }
  return peak;
}

Lut LevelsLut(int black, int white) {
  Lut lut;
  const int range = white - black;  // > 0: white >= 255 - maxShift > black
  for (int v = 0; v < 256; ++v) {
    const int out = v <= black ? 0 : v >= white ? 255 : ((v - black) * 255 + range / 2) / range;
    lut[static_cast<size_t>(v)] = static_cast<uint8_t>(out);
  }
  return lut;
}

}  // namespace

LevelsFound FindAutoLevels(const DibImage& image, const AutoLevelsSettings& settings) {
  LevelsFound found;
  if (!image.Is24Bit() || image.Width() < 1) return found;
  const DibRect area = FindScanBands(image).Inside(image.Width(), image.Height());
  if (area.Width() < 1 || area.Height() < 1) return found;
  uint64_t samples = 0;
  const std::array<Histogram, 3> h = SampleHistograms(image, area, samples);
  const uint64_t clip =
      samples * static_cast<uint64_t>(std::clamp(settings.clipTenths, 0, 50)) / 1000;
  std::array<int, 3> low{};
  std::array<int, 3> high{};
  for (size_t c = 0; c < 3; ++c) {
    low[c] = LowPoint(h[c], clip);
    high[c] = HighPoint(h[c], clip);
  }
  const int black = *std::min_element(low.begin(), low.end());
  // Too uniform to tell ink from paper: leave alone.
  if (*std::max_element(high.begin(), high.end()) - black < kMinLevelsRange) return found;
  std::array<int, 3> paper{};
  for (size_t c = 0; c < 3; ++c) paper[c] = PaperLevel(h[c], low[c], high[c], samples);
  const int sharedWhite = *std::max_element(paper.begin(), paper.end());

  const int maxShift = std::clamp(settings.maxShift, 0, 255);
  found.black = std::min(black, maxShift);
  bool wide = found.black <= kWideLevelsEnd;
  for (size_t c = 0; c < 3; ++c) {
    const int white = settings.neutralise ? paper[c] : sharedWhite;
    // The limit keeps white above black too: a channel without paper (a
    // red cover's blue) is lifted no more than maxShift.
    found.white[c] = std::max({white, 255 - maxShift, found.black + 1});
    wide = wide && found.white[c] >= 255 - kWideLevelsEnd;
  }
  found.applied = !wide;
  return found;
}

bool ApplyLevels(DibImage& image, const LevelsFound& levels) {
  if (!levels.applied || !image.Is24Bit() || image.Width() < 1) return false;
  const int black = std::clamp(levels.black, 0, 254);
  std::array<Lut, 3> lut;
  for (size_t c = 0; c < 3; ++c)
    lut[c] = LevelsLut(black, std::clamp(levels.white[c], black + 1, 255));
  if (lut[0] == lut[1] && lut[1] == lut[2]) return MapPixelBytes(image, lut[0]);
  // A white point per channel: one pass with three tables.
  const size_t bytes = static_cast<size_t>(image.Width()) * 3;
  for (int32_t y = 0; y < image.Height(); ++y) {
    uint8_t* p = image.Row(y);
    for (size_t i = 0; i < bytes; i += 3) {
      p[i] = lut[0][p[i]];
      p[i + 1] = lut[1][p[i + 1]];
      p[i + 2] = lut[2][p[i + 2]];
    }
  }
  return true;
}

bool SharedLevelsTable(const LevelsFound& levels, std::array<uint8_t, 256>& table) {
  if (!levels.applied || levels.white[0] != levels.white[1] || levels.white[1] != levels.white[2]) {
    return false;
  }
  const int black = std::clamp(levels.black, 0, 254);
  table = LevelsLut(black, std::clamp(levels.white[0], black + 1, 255));
  return true;
}

LevelsFound AutoLevels(DibImage& image, const AutoLevelsSettings& settings) {
  const LevelsFound found = FindAutoLevels(image, settings);
  ApplyLevels(image, found);
  return found;
}

}  // namespace inkbrite
