// SPDX-License-Identifier: GPL-2.0-or-later
#include "core/jpeg_cleanup.h"

#include <algorithm>
#include <cstdlib>
#include <new>
#include <vector>

namespace inkbrite {

namespace {

// The luminance table of the JPEG standard's example (quality 50).
constexpr std::array<uint16_t, 64> kStandardLuminance = {
    16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
    14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
    18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
    49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};

struct Thresholds {
  int edge, flat, ring;
};

// The DC step spreads a block's mean by up to step / 16 (the transform's
// scale is 8); the lowest frequencies add their halves at the block's edge.
Thresholds ThresholdsOf(const JpegQuantisers& q) {
  const int dc = q.steps[0];
  const int low = (q.steps[1] + q.steps[8]) / 2;
  const int mid = (q.steps[2] + q.steps[9] + q.steps[16] + q.steps[10] + q.steps[17]) / 5;
  return {std::clamp((dc + low) / 4, 2, 48), std::clamp(low / 6, 1, 12), std::clamp(mid, 2, 60)};
}

// Spreads the step between p[-1] and p[0] (pixels `stride` bytes apart)
// over p[-3] to p[2] when it is small and both sides are flat.
bool SmoothEdge(uint8_t* p, ptrdiff_t stride, const Thresholds& t) {
  const int p0 = p[-stride], p1 = p[-2 * stride], q0 = p[0], q1 = p[stride];
  const int d = q0 - p0;
  if (d == 0 || std::abs(d) >= t.edge || std::abs(p1 - p0) > t.flat || std::abs(q1 - q0) > t.flat) {
    return false;
  }
  static constexpr int kShare[3] = {3, 2, 1};  // eighths of the step, nearest first
  for (int i = 0; i < 3; ++i) {
    uint8_t& before = p[-(i + 1) * stride];
    uint8_t& after = p[i * stride];
    before =
        static_cast<uint8_t>(std::clamp(before + (d * kShare[i] + (d > 0 ? 4 : -4)) / 8, 0, 255));
    after =
        static_cast<uint8_t>(std::clamp(after - (d * kShare[i] + (d > 0 ? 4 : -4)) / 8, 0, 255));
  }
  return true;
}

int64_t Deblock(DibImage& image, const Thresholds& t) {
  const int32_t w = image.Width(), h = image.Height();
  int64_t smoothed = 0;
  // Vertical edges: columns 8, 16, ... (three pixels each side needed).
  for (int32_t y = 0; y < h; ++y) {
    uint8_t* row = image.Row(y);
    for (int32_t x = 8; x + 3 <= w; x += 8) {
      for (int c = 0; c < 3; ++c) smoothed += SmoothEdge(row + 3 * x + c, 3, t) ? 1 : 0;
    }
  }
  // Horizontal edges: rows 8, 16, ... from the top; DibImage::Row counts
  // from the top, its rows a stride apart.
  if (h < 11) return smoothed;
  const ptrdiff_t stride = image.Row(1) - image.Row(0);
  for (int32_t y = 8; y + 3 <= h; y += 8) {
    uint8_t* row = image.Row(y);
    for (int32_t x = 0; x < w * 3; ++x) smoothed += SmoothEdge(row + x, stride, t) ? 1 : 0;
  }
  return smoothed;
}

// The 3 x 3 sigma filter of one channel's rows, from a copy of the page.
void Dering(DibImage& image, const Thresholds& t) {
  const int32_t w = image.Width(), h = image.Height();
  const size_t bytes = static_cast<size_t>(w) * 3;
  std::vector<uint8_t> rows(3 * bytes);  // the original of rows y - 1, y, y + 1
  const auto copy = [&](int32_t y, int slot) {
    std::copy_n(image.Row(std::clamp(y, 0, h - 1)), bytes, rows.data() + slot * bytes);
  };
  copy(-1, 0);
  copy(0, 1);
  for (int32_t y = 0; y < h; ++y) {
    copy(y + 1, 2);
    const uint8_t* up = rows.data();
    const uint8_t* mid = up + bytes;
    const uint8_t* down = mid + bytes;
    uint8_t* out = image.Row(y);
    for (int32_t x = 0; x < w; ++x) {
      const int32_t left = 3 * std::max(0, x - 1), right = 3 * std::min(w - 1, x + 1);
      for (int c = 0; c < 3; ++c) {
        const int centre = mid[3 * x + c];
        int sum = 0, n = 0;
        for (const uint8_t* r : {up, mid, down}) {
          for (const int32_t at : {left, 3 * x, right}) {
            const int v = r[at + c];
            if (std::abs(v - centre) <= t.ring) {
              sum += v;
              ++n;
            }
          }
        }
        out[3 * x + c] = static_cast<uint8_t>((sum + n / 2) / n);
      }
    }
    std::copy(rows.begin() + static_cast<ptrdiff_t>(bytes), rows.end(), rows.begin());
  }
}

}  // namespace

JpegQuantisers StandardJpegQuantisers(int quality) {
  quality = std::clamp(quality, 1, 100);
  const int scale = quality < 50 ? 5000 / quality : 200 - 2 * quality;
  JpegQuantisers q;
  for (size_t i = 0; i < 64; ++i) {
    q.steps[i] =
        static_cast<uint16_t>(std::clamp((kStandardLuminance[i] * scale + 50) / 100, 1, 255));
  }
  return q;
}

JpegCleanupFound CleanJpegArtefacts(DibImage& image, const JpegQuantisers* tables) {
  JpegCleanupFound found;
  if (!image.Is24Bit() || image.Width() < 3 || image.Height() < 3) return found;
  const Thresholds t = ThresholdsOf(tables != nullptr ? *tables : StandardJpegQuantisers(50));
  found.edge = t.edge;
  found.flat = t.flat;
  found.ring = t.ring;
  try {
    // Twice: the halo of an edge reaches a few pixels into its block.
    Dering(image, t);
    Dering(image, t);
  } catch (const std::bad_alloc&) {
    return found;
  }
  found.smoothed = Deblock(image, t);
  return found;
}

double JpegBlocking(const DibImage& image) {
  if (!image.Is24Bit() || image.Width() < 16) return 0;
  // Steps between columns 8k - 1 and 8k against those between columns
  // 8k + 3 and 8k + 4, the middle of the blocks: the same number of pairs,
  // the same picture, only the block edge differs.
  double across = 0, middle = 0;
  for (int32_t y = 0; y < image.Height(); ++y) {
    const uint8_t* row = image.Row(y);
    for (int32_t x = 8; x + 4 < image.Width(); x += 8) {
      for (int c = 0; c < 3; ++c) {
        across += std::abs(row[3 * x + c] - row[3 * (x - 1) + c]);
        middle += std::abs(row[3 * (x + 4) + c] - row[3 * (x + 3) + c]);
      }
    }
  }
  const int64_t edges = (image.Width() - 5) / 8;  // block edges with a middle beside them
  const double pairs = static_cast<double>(image.Height()) * 3 * static_cast<double>(edges);
  return pairs == 0 ? 0 : (across - middle) / pairs;
}

}  // namespace inkbrite
