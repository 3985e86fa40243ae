// SPDX-License-Identifier: GPL-2.0-or-later
#include "core/deskew.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

namespace inkbrite {

namespace {

constexpr int32_t kGridColumns = 256;
constexpr int32_t kGridRows = 1200;
constexpr int32_t kHistogramRows = 200;
constexpr int kMinContrast = 48;  // levels between the 2nd and 98th percentiles

double Radians(double degrees) { return degrees * std::numbers::pi / 180.0; }

// Counts of dark pixels per cell, column after column, and the same grid
// with its rows merged `k` at a time.
struct Grid {
  int32_t cellWidth = 1;
  int32_t cellHeight = 1;
  int32_t columns = 0;
  int32_t rows = 0;
  int32_t pageWidth = 0;
  std::vector<float> count;  // count[column * rows + row]

  Grid Merged(int32_t k) const {
    Grid g = *this;
    g.cellHeight = cellHeight * k;
    g.rows = (rows + k - 1) / k;
    g.count.assign(static_cast<size_t>(g.columns) * static_cast<size_t>(g.rows), 0);
    for (int32_t c = 0; c < columns; ++c) {
      const float* from = &count[static_cast<size_t>(c) * static_cast<size_t>(rows)];
      float* to = &g.count[static_cast<size_t>(c) * static_cast<size_t>(g.rows)];
      for (int32_t r = 0; r < rows; ++r) to[r / k] += from[r];
    }
    return g;
  }
};

// The dark threshold: the middle of the 2nd and 98th lightness percentiles
// of a few rows; -1 when they lie closer than kMinContrast.
int DarkThreshold(const DibImage& image) {
  std::array<uint32_t, 256> h{};
  uint64_t n = 0;
  const int32_t step = SampleStep(image.Height(), kHistogramRows);
  for (int32_t y = step / 2; y < image.Height(); y += step) {
    const uint8_t* p = image.Row(y);
    for (int32_t x = 0; x < image.Width(); ++x, p += 3)
      ++h[static_cast<size_t>(Luma(p[0], p[1], p[2]))];
    n += static_cast<uint64_t>(image.Width());
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

Grid BuildGrid(const DibImage& image, int threshold) {
  Grid g;
  const int32_t w = image.Width();
  const int32_t h = image.Height();
  g.pageWidth = w;
  g.cellWidth = std::max<int32_t>(2, (w + kGridColumns - 1) / kGridColumns);
  g.cellHeight = std::max<int32_t>(1, h / kGridRows);
  g.columns = (w + g.cellWidth - 1) / g.cellWidth;
  g.rows = (h + g.cellHeight - 1) / g.cellHeight;
  g.count.assign(static_cast<size_t>(g.columns) * static_cast<size_t>(g.rows), 0);
  // A dark pixel adds one to its cell; every other pixel is looked at.
  std::array<uint8_t, 256> dark{};
  for (int v = 0; v < threshold; ++v) dark[static_cast<size_t>(v)] = 1;
  std::vector<int32_t> line(static_cast<size_t>(g.columns));
  for (int32_t y = 0; y < h; ++y) {
    const uint8_t* p = image.Row(y);
    const int32_t r = y / g.cellHeight;
    for (int32_t x = 0; x < w; x += 2, p += 6) {
      line[static_cast<size_t>(x / g.cellWidth)] +=
          dark[static_cast<size_t>(Luma(p[0], p[1], p[2]))];
    }
    if ((y + 1) % g.cellHeight == 0 || y + 1 == h) {
      for (int32_t c = 0; c < g.columns; ++c) {
        g.count[static_cast<size_t>(c) * static_cast<size_t>(g.rows) + static_cast<size_t>(r)] =
            static_cast<float>(line[static_cast<size_t>(c)]);
      }
      std::fill(line.begin(), line.end(), 0);
    }
  }
  return g;
}

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
    m_bins.resize(static_cast<size_t>(grid.rows + 2 * m_pad));
  }

  double Score(double degrees) {
    const Grid& g = m_grid;
    std::fill(m_bins.begin(), m_bins.end(), 0.0f);
    const double slope = std::tan(Radians(degrees)) * 32.0 / g.cellHeight;
    for (int32_t c = 0; c < g.columns; ++c) {
      const double middle = c * g.cellWidth + g.cellWidth / 2.0 - g.pageWidth / 2.0;
      const auto fixed = static_cast<int64_t>(std::llround(middle * slope));
      const auto whole = static_cast<int32_t>(fixed >> 5);  // floor
      const auto f = static_cast<float>(fixed & 31) / 32.0f;
      const float w0 = 0.5f * (1.0f - f) * (1.0f - f);
      const float w1 = 0.5f + f * (1.0f - f);
      const float w2 = 0.5f * f * f;
      const float* in = &g.count[static_cast<size_t>(c) * static_cast<size_t>(g.rows)];
      // out[r] gets w0 of in[r], w1 of in[r - 1] and w2 of in[r - 2].
      float* out = &m_bins[static_cast<size_t>(m_pad + whole - 1)];
      out[0] += in[0] * w0;
      out[1] += in[1 < g.rows ? 1 : 0] * (1 < g.rows ? w0 : 0.0f) + in[0] * w1;
      for (int32_t r = 2; r < g.rows; ++r) out[r] += in[r] * w0 + in[r - 1] * w1 + in[r - 2] * w2;
      if (g.rows >= 2) out[g.rows] += in[g.rows - 1] * w1 + in[g.rows - 2] * w2;
      out[g.rows + (g.rows >= 2 ? 1 : 0)] += in[g.rows - 1] * w2;
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
  const int threshold = DarkThreshold(image);
  if (threshold < 0) return found;
  const double range = std::clamp(settings.maxTenths, 1, 50) / 10.0;

  const Grid grid = BuildGrid(image, threshold);
  const Grid pairs = grid.Merged(2);
  double score = 0.0;
  // The whole range on rows merged in pairs, then near the best on the
  // grid's own rows, finer and finer.
  Profile coarse(pairs);
  double angle = coarse.Best(-range, range, 0.25, score);
  Profile fine(grid);
  angle = fine.Best(std::max(-range, angle - 0.3), std::min(range, angle + 0.3), 0.05, score);
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
      score < straight * (1.0 + kMinSkewGain)) {
    return found;
  }
  found.applied = true;
  found.angle = angle;
  return found;
}

bool RotateImage(DibImage& image, double degrees, Bgr8 fill) {
  if (!image.Is24Bit() || image.Width() < 1) return false;
  const int32_t w = image.Width();
  const int32_t h = image.Height();
  DibImage out;
  if (!out.Create(w, h, 24)) return false;
  const double c = std::cos(Radians(degrees));
  const double s = std::sin(Radians(degrees));
  const double cx = w / 2.0;
  const double cy = h / 2.0;
  constexpr double kOne = 4294967296.0;  // 32 fraction bits
  const auto stepU = static_cast<int64_t>(std::llround(c * kOne));
  const auto stepV = static_cast<int64_t>(std::llround(s * kOne));
  const uint8_t paper[3] = {fill.blue, fill.green, fill.red};
  const int64_t rowBytes = image.RowBytes();

  for (int32_t y = 0; y < h; ++y) {
    // Source point of the centre of output pixel (0, y), in pixel indices:
    // the output turned back by `degrees` about the centre.
    const double dx = 0.5 - cx;
    const double dy = y + 0.5 - cy;
    auto u = static_cast<int64_t>(std::llround((cx + dx * c - dy * s - 0.5) * kOne));
    auto v = static_cast<int64_t>(std::llround((cy + dx * s + dy * c - 0.5) * kOne));
    uint8_t* o = out.Row(y);
    for (int32_t x = 0; x < w; ++x, o += 3, u += stepU, v += stepV) {
      const auto ix = static_cast<int32_t>(u >> 32);
      const auto iy = static_cast<int32_t>(v >> 32);
      const auto fx = static_cast<int32_t>((u >> 24) & 255);
      const auto fy = static_cast<int32_t>((v >> 24) & 255);
      const uint8_t* t0;  // taps (ix, iy), (ix + 1, iy), (ix, iy + 1), (ix + 1, iy + 1)
      const uint8_t* t1;
      const uint8_t* t2;
      const uint8_t* t3;
      if (static_cast<uint32_t>(ix) < static_cast<uint32_t>(w - 1) &&
          static_cast<uint32_t>(iy) < static_cast<uint32_t>(h - 1)) {
        t0 = image.Row(iy) + static_cast<size_t>(ix) * 3;
        t1 = t0 + 3;
        t2 = t0 - rowBytes;  // rows are stored bottom-up
        t3 = t2 + 3;
      } else {
        const auto tap = [&](int32_t tx, int32_t ty) -> const uint8_t* {
          return tx >= 0 && tx < w && ty >= 0 && ty < h
                     ? image.Row(ty) + static_cast<size_t>(tx) * 3
                     : paper;
        };
        t0 = tap(ix, iy);
        t1 = tap(ix + 1, iy);
        t2 = tap(ix, iy + 1);
        t3 = tap(ix + 1, iy + 1);
      }
      const int32_t w0 = (256 - fx) * (256 - fy);
      const int32_t w1 = fx * (256 - fy);
      const int32_t w2 = (256 - fx) * fy;
      const int32_t w3 = fx * fy;
      for (int k = 0; k < 3; ++k) {
        o[k] =
            static_cast<uint8_t>((t0[k] * w0 + t1[k] * w1 + t2[k] * w2 + t3[k] * w3 + 32768) >> 16);
      }
    }
  }
  image = std::move(out);
  return true;
}

SkewFound Deskew(DibImage& image, const DeskewSettings& settings) {
  SkewFound found = FindSkew(image, settings);
  if (found.applied && !RotateImage(image, -found.angle, EstimatePaper(image)))
    found.applied = false;
  return found;
}

}  // namespace inkbrite
