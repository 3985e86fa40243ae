// SPDX-License-Identifier: GPL-2.0-or-later
#include "core/deskew.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <numbers>
#include <vector>

#include "core/spread_split.h"

namespace inkbrite {

namespace {

constexpr int32_t kGridColumns = 128;
constexpr int32_t kGridRows = 1200;
constexpr int32_t kHistogramRows = 200;
constexpr int32_t kStepX = 3;     // pixels between samples along a row
constexpr int kMinContrast = 48;  // levels between the 2nd and 98th percentiles

double Radians(double degrees) { return degrees * std::numbers::pi / 180.0; }

// Counts of dark pixels per cell, column after column. Each column holds
// kLead zeros, its `rows` counts, and zeros up to `stride`, so the profile
// loop below runs over whole blocks without tests at the ends.
constexpr int32_t kLead = 2;
constexpr int32_t kBlock = 8;

struct Grid {
  int32_t cellWidth = 1;
  int32_t cellHeight = 1;
  int32_t columns = 0;
  int32_t rows = 0;
  int32_t stride = 0;
  int32_t pageWidth = 0;
  std::vector<float> count;

  void Shape(int32_t columnCount, int32_t rowCount) {
    columns = columnCount;
    rows = rowCount;
    // Room for the blocks of rows + 2 outputs, reading two rows further.
    stride = kLead + (rows + 2 + kBlock - 1) / kBlock * kBlock + kBlock;
    count.assign(static_cast<size_t>(columns) * static_cast<size_t>(stride), 0.0f);
  }
  float* Column(int32_t c) { return &count[static_cast<size_t>(c) * static_cast<size_t>(stride)]; }
  const float* Column(int32_t c) const {
    return &count[static_cast<size_t>(c) * static_cast<size_t>(stride)];
  }

  // The same grid with its rows added up `k` at a time.
  Grid Merged(int32_t k) const {
    Grid g;
    g.cellWidth = cellWidth;
    g.cellHeight = cellHeight * k;
    g.pageWidth = pageWidth;
    g.Shape(columns, (rows + k - 1) / k);
    for (int32_t c = 0; c < columns; ++c) {
      const float* from = Column(c) + kLead;
      float* to = g.Column(c) + kLead;
      for (int32_t r = 0; r < g.rows; ++r, from += k) {
        float sum = 0.0f;
        for (int32_t i = 0; i < k; ++i) sum += from[i];  // zeros past the last row
        to[r] = sum;
      }
    }
    return g;
  }
};

// The dark threshold: the middle of the 2nd and 98th lightness percentiles
// of a few rows of `area`; -1 when they lie closer than kMinContrast.
__attribute__((noinline)) int DarkThreshold(const DibImage& image, const DibRect& area) {
  std::array<uint32_t, 256> h{};
  uint64_t n = 0;
  const int32_t step = SampleStep(area.Height(), kHistogramRows);
  for (int32_t y = area.top + step / 2; y < area.bottom; y += step) {
    const uint8_t* p = image.Row(y) + 3 * static_cast<size_t>(area.left);
    for (int32_t x = 0; x < area.Width(); x += kStepX, p += 3 * static_cast<size_t>(kStepX)) {
      ++h[static_cast<size_t>(Luma(p[0], p[1], p[2]))];
      ++n;
    }
  }
  const uint64_t clip = n / 50;
  uint64_t seen = 0;
  int low = 0;
  while (low < 255 && (seen += h[static_cast<size_t>(low)]) <= clip) ++low;
  seen = 0;
  int high = 255;
  while (high > 0 && (seen += h[static_cast<size_t>(high)]) <= clip) --high;
  if (high - low < kMinContrast) return -1;
  return (low + high) / 2;
}

// Dark samples that are joined to an edge of the area along their row or
// column (the dark corners a turned picture was filled with, the scanner's
// background around a smaller page) are not ink on the paper: their
// straight edges would pull the angle towards the picture's own.
void DropEdgeRuns(std::vector<uint8_t>& dark, int32_t rows, int32_t samples) {
  const auto at = [&](int32_t r, int32_t s) -> uint8_t& {
    return dark[static_cast<size_t>(r) * static_cast<size_t>(samples) + static_cast<size_t>(s)];
  };
  for (int32_t r = 0; r < rows; ++r) {
    for (int32_t s = 0; s < samples && at(r, s) != 0; ++s) at(r, s) = 2;
    for (int32_t s = samples - 1; s >= 0 && at(r, s) != 0; --s) at(r, s) = 2;
  }
  for (int32_t s = 0; s < samples; ++s) {
    for (int32_t r = 0; r < rows && at(r, s) != 0; ++r) at(r, s) = 2;
    for (int32_t r = rows - 1; r >= 0 && at(r, s) != 0; --r) at(r, s) = 2;
  }
}

// One row of each cell's rows and every third pixel are looked at: the
// lines that matter (borders, lettering) are several pixels thick.
__attribute__((noinline)) Grid BuildGrid(const DibImage& image, const DibRect& area,
                                         int threshold) {
  Grid g;
  const int32_t w = area.Width();
  const int32_t h = area.Height();
  g.pageWidth = w;
  g.cellWidth = std::max<int32_t>(2, (w + kGridColumns - 1) / kGridColumns);
  g.cellHeight = std::max<int32_t>(1, h / kGridRows);
  g.Shape((w + g.cellWidth - 1) / g.cellWidth, (h + g.cellHeight - 1) / g.cellHeight);
  // The samples of a row: every third pixel of each cell, from its start.
  std::vector<int32_t> offsets;  // in bytes from the area's left
  std::vector<int32_t> cellOf;
  for (int32_t c = 0; c < g.columns; ++c) {
    for (int32_t x = c * g.cellWidth; x < std::min(w, (c + 1) * g.cellWidth); x += kStepX) {
      offsets.push_back(3 * x);
      cellOf.push_back(c);
    }
  }
  const auto samples = static_cast<int32_t>(offsets.size());
  // Luma times 256 below threshold * 256: dark.
  const int limit = threshold * 256;
  std::vector<uint8_t> dark(static_cast<size_t>(samples) * static_cast<size_t>(g.rows));
  uint8_t* d = dark.data();
  for (int32_t r = 0; r < g.rows; ++r) {
    const uint8_t* row =
        image.Row(area.top + std::min(h - 1, r * g.cellHeight + g.cellHeight / 2)) +
        3 * static_cast<size_t>(area.left);
    for (const int32_t o : offsets) {
      const uint8_t* p = row + o;
      *d++ = 29 * p[0] + 150 * p[1] + 77 * p[2] < limit ? 1 : 0;
    }
  }
  DropEdgeRuns(dark, g.rows, samples);
  d = dark.data();
  for (int32_t r = 0; r < g.rows; ++r) {
    for (int32_t s = 0; s < samples; ++s, ++d) {
      if (*d == 1) g.Column(cellOf[static_cast<size_t>(s)])[kLead + r] += 1.0f;
    }
  }
  return g;
}

// Four floats, for the profile loop (a GCC and Clang vector extension: SSE
// registers on any x86-64, NEON on ARM, plain code elsewhere).
using Floats = float __attribute__((vector_size(16)));
constexpr int32_t kLanes = 4;

Floats Load(const float* p) {
  Floats v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

void Store(float* p, Floats v) { std::memcpy(p, &v, sizeof v); }

// Variance of the profile of the grid's rows with each column shifted by
// (its distance from the middle) * tan(angle), in units of a cell's height.
// Each cell is spread over three rows with the weights of a quadratic
// B-spline at the shift's fraction (1/32 steps): ((1 - f)^2, 1 + 2f(1 - f),
// f^2) / 2. Unlike sharing between two rows, this blurs every shift by the
// same amount (a variance of 1/4 row), so a whole shift (angle 0 among
// them) gains nothing over a fractional one.
class Profile {
 public:
  explicit Profile(const Grid& grid) : m_grid(grid) {
    const double reach = grid.pageWidth / 2.0 * std::tan(Radians(kMaxSkewDegrees + 1.0));
    m_pad = static_cast<int32_t>(reach / grid.cellHeight) + 3;
    m_bins.resize(static_cast<size_t>(grid.stride) + 2 * static_cast<size_t>(m_pad));
  }

  double Score(double degrees) {
    const Grid& g = m_grid;
    std::fill(m_bins.begin(), m_bins.end(), 0.0f);
    const double slope = std::tan(Radians(degrees)) * 32.0 / g.cellHeight;
    const int32_t blocks = (g.rows + 2 + kBlock - 1) / kBlock;
    for (int32_t c = 0; c < g.columns; ++c) {
      const double middle = c * g.cellWidth + g.cellWidth / 2.0 - g.pageWidth / 2.0;
      const auto fixed = static_cast<int64_t>(std::llround(middle * slope));
      const auto whole = static_cast<int32_t>(fixed >> 5);  // floor
      const auto f = static_cast<float>(fixed & 31) / 32.0f;
      const float w0 = 0.5f * (1.0f - f) * (1.0f - f);
      const float w1 = 0.5f + f * (1.0f - f);
      const float w2 = 0.5f * f * f;
      // out[r] gets w0 of row r, w1 of row r - 1 and w2 of row r - 2, for
      // r = 0 to rows + 1 (the column's zeros stand in for missing rows).
      const float* in = g.Column(c) + kLead;
      float* out = &m_bins[static_cast<size_t>(m_pad + whole - 1)];
      for (int32_t r = 0; r < blocks * kBlock; r += kLanes) {
        Store(out + r,
              Load(out + r) + Load(in + r) * w0 + Load(in + r - 1) * w1 + Load(in + r - 2) * w2);
      }
    }
    double sum = 0.0;
    double sumSquares = 0.0;
    for (const float b : m_bins) {
      sum += b;
      sumSquares += static_cast<double>(b) * b;
    }
    const double n = static_cast<double>(m_bins.size());
    return sumSquares / n - (sum / n) * (sum / n);
  }

  // The best of `from`, `from + step`, ... up to `to`.
  double Best(double from, double to, double step, double& bestScore) {
    double best = from;
    bestScore = -1.0;
    const int steps = static_cast<int>(std::lround((to - from) / step));
    for (int i = 0; i <= steps; ++i) {
      const double a = from + i * step;
      const double s = Score(a);
      if (s > bestScore) {
        bestScore = s;
        best = a;
      }
    }
    return best;
  }

 private:
  const Grid& m_grid;
  int32_t m_pad = 0;
  std::vector<float> m_bins;
};

}  // namespace

SkewFound FindSkew(const DibImage& image, const DeskewSettings& settings) {
  SkewFound found;
  if (!image.Is24Bit() || image.Width() < 8 || image.Height() < 8) return found;
  const DibRect area = FindScanBands(image).Inside(image.Width(), image.Height());
  if (area.Width() < 8 || area.Height() < 8) return found;
  const int threshold = DarkThreshold(image, area);
  if (threshold < 0) return found;
  const double range = std::clamp(settings.maxTenths, 1, 50) / 10.0;

  const Grid grid = BuildGrid(image, area, threshold);
  const Grid pairs = grid.Merged(2);
  const Grid fours = grid.Merged(4);
  double score = 0.0;
  // The whole range on rows merged four at a time, then near the best on
  // rows merged in pairs, then on the grid's own rows.
  Profile coarse(fours);
  double angle = coarse.Best(-range, range, 0.25, score);
  Profile middle(pairs);
  angle = middle.Best(std::max(-range, angle - 0.3), std::min(range, angle + 0.3), 0.05, score);
  // How sure: how far the best stands above the angles a degree away.
  const double near =
      std::max(middle.Score(angle - kSureDistance), middle.Score(angle + kSureDistance));
  found.sure = score > 0.0 ? std::clamp(1.0 - near / score, 0.0, 1.0) : 0.0;
  Profile fine(grid);
  const double step = 0.01;
  angle = fine.Best(std::max(-range, angle - 0.05), std::min(range, angle + 0.05), step, score);
  // A parabola through the best and its neighbours.
  const double before = fine.Score(angle - step);
  const double after = fine.Score(angle + step);
  const double bend = before - 2.0 * score + after;
  if (bend < 0.0) angle += std::clamp(0.5 * (before - after) / bend, -0.5, 0.5) * step;
  angle = std::clamp(angle, -range, range);

  const double straight = fine.Score(0.0);
  if (std::fabs(angle) < kMinSkewDegrees || straight <= 0.0 ||
      score < straight * (1.0 + kMinSkewGain) || found.sure < kMinSkewSure) {
    return found;
  }
  found.applied = true;
  found.angle = angle;
  return found;
}

SkewFound Deskew(DibImage& image, const DeskewSettings& settings) {
  SkewFound found = FindSkew(image, settings);
  if (!found.applied) return found;
  const ScanBands bands = FindScanBands(image);
  if (!bands.Any()) {
    if (!RotateImage(image, -found.angle, EstimatePaper(image))) found.applied = false;
    return found;
  }
  // The page inside the scanner's bands is turned; the bands stay as they
  // were, straight along the edges, for the margin crop to cut off.
  const DibRect area = bands.Inside(image.Width(), image.Height());
  DibImage inside;
  if (!CopyRegion(image, area, inside) ||
      !RotateImage(inside, -found.angle, EstimatePaper(image, area))) {
    found.applied = false;
    return found;
  }
  const size_t bytes = static_cast<size_t>(area.Width()) * 3;
  for (int32_t y = 0; y < area.Height(); ++y) {
    std::memcpy(image.Row(area.top + y) + 3 * static_cast<size_t>(area.left), inside.Row(y), bytes);
  }
  return found;
}

}  // namespace inkbrite
