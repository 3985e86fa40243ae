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
  const int p0 = p[-stride], q0 = p[0];
  const int d = q0 - p0;
  if (d == 0 || std::abs(d) >= t.edge) return false;
  const int p1 = p[-2 * stride], q1 = p[stride];
  if (std::abs(p1 - p0) > t.flat || std::abs(q1 - q0) > t.flat) return false;
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

// SmoothEdge without branches on byte `i` of the rows a to f (three above
// a horizontal block edge, three below); 1 when smoothed.
inline int SmoothRowByte(uint8_t* __restrict a, uint8_t* __restrict b, uint8_t* __restrict c,
                         uint8_t* __restrict d0, uint8_t* __restrict e, uint8_t* __restrict f,
                         size_t i, int edge, int flat) {
  const int p0 = c[i], p1 = b[i], q0 = d0[i], q1 = e[i];
  const int d = q0 - p0;
  const int ad = d < 0 ? -d : d;
  const int dp = p1 > p0 ? p1 - p0 : p0 - p1, dq = q1 > q0 ? q1 - q0 : q0 - q1;
  const int on = (d != 0) & (ad < edge) & (dp <= flat) & (dq <= flat);
  const int round = d > 0 ? 4 : -4;
  const int s3 = on * ((3 * d + round) / 8), s2 = on * ((2 * d + round) / 8),
            s1 = on * ((d + round) / 8);
  c[i] = static_cast<uint8_t>(std::clamp(p0 + s3, 0, 255));
  b[i] = static_cast<uint8_t>(std::clamp(p1 + s2, 0, 255));
  a[i] = static_cast<uint8_t>(std::clamp(a[i] + s1, 0, 255));
  d0[i] = static_cast<uint8_t>(std::clamp(q0 - s3, 0, 255));
  e[i] = static_cast<uint8_t>(std::clamp(q1 - s2, 0, 255));
  f[i] = static_cast<uint8_t>(std::clamp(f[i] - s1, 0, 255));
  return on;
}

// The horizontal block edge above row `r[3]` over `n` bytes of rows r[0] to
// r[5].
int64_t SmoothRowEdge(uint8_t* const r[6], size_t n, const Thresholds& t) {
  int64_t smoothed = 0;
  for (size_t i = 0; i < n; ++i) {
    smoothed += SmoothRowByte(r[0], r[1], r[2], r[3], r[4], r[5], i, t.edge, t.flat);
  }
  return smoothed;
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
  // Horizontal edges: rows 8, 16, ... from the top.
  const auto bytes = static_cast<size_t>(w) * 3;
  for (int32_t y = 8; y + 3 <= h; y += 8) {
    uint8_t* const rows[6] = {image.Row(y - 3), image.Row(y - 2), image.Row(y - 1),
                              image.Row(y),     image.Row(y + 1), image.Row(y + 2)};
    smoothed += SmoothRowEdge(rows, bytes, t);
  }
  return smoothed;
}

// A block holds an edge of the drawing, and so its ringing, when its green
// levels span more than this many times `ring`; the other blocks hold only
// noise below the table's steps and are left to the deblocking. (An edge
// on a block's border rings in neither block.)
constexpr int kEdgeBlockSpan = 3;

// One flag a block of 8 x 8 pixels, rows of blocks from the top.
std::vector<uint8_t> EdgeBlocks(const DibImage& image, int ring, int32_t across, int32_t down) {
  const int32_t w = image.Width(), h = image.Height();
  std::vector<uint8_t> lo(static_cast<size_t>(across)), hi(static_cast<size_t>(across));
  std::vector<uint8_t> flags(static_cast<size_t>(across) * static_cast<size_t>(down));
  for (int32_t by = 0; by < down; ++by) {
    std::fill(lo.begin(), lo.end(), 255);
    std::fill(hi.begin(), hi.end(), 0);
    for (int32_t y = 8 * by; y < std::min(h, 8 * by + 8); ++y) {
      const uint8_t* g = image.Row(y) + 1;
      for (int32_t bx = 0; bx < across; ++bx) {
        uint8_t l = lo[bx], u = hi[bx];
        for (int32_t x = 8 * bx; x < std::min(w, 8 * bx + 8); ++x) {
          l = std::min(l, g[3 * x]);
          u = std::max(u, g[3 * x]);
        }
        lo[bx] = l;
        hi[bx] = u;
      }
    }
    for (int32_t bx = 0; bx < across; ++bx) {
      flags[static_cast<size_t>(by) * static_cast<size_t>(across) + static_cast<size_t>(bx)] =
          hi[bx] - lo[bx] > kEdgeBlockSpan * ring ? 1 : 0;
    }
  }
  return flags;
}

// The filter of one row's bytes [from, to): each byte the mean of its 3 x 3
// neighbourhood (bytes 3 apart across, the rows above and below), a
// neighbour more than `ring` from it counted as the byte itself, so the
// noise beside an edge is smoothed and the edge, far more than `ring` high,
// is not. `from` at least 3 and `to` at most the row's bytes less 3.
inline void DeringByte(const uint8_t* __restrict up, const uint8_t* __restrict mid,
                       const uint8_t* __restrict down, uint8_t* __restrict out, size_t i,
                       int ring) {
  const int c = mid[i];
  const auto take = [c, ring](int v) {
    const int d = v > c ? v - c : c - v;
    return d <= ring ? v : c;
  };
  const int sum = take(up[i - 3]) + take(up[i]) + take(up[i + 3]) + take(mid[i - 3]) + c +
                  take(mid[i + 3]) + take(down[i - 3]) + take(down[i]) + take(down[i + 3]);
  out[i] = static_cast<uint8_t>((sum + 4) / 9);
}

void DeringBytes(const uint8_t* up, const uint8_t* mid, const uint8_t* down, uint8_t* out,
                 size_t from, size_t to, int ring) {
  for (size_t i = from; i < to; ++i) DeringByte(up, mid, down, out, i, ring);
}

// The same for a pixel at the page's left or right edge, its missing
// neighbours the pixel itself.
void DeringEdgePixel(const uint8_t* up, const uint8_t* mid, const uint8_t* down, uint8_t* out,
                     int32_t x, int32_t w, int ring) {
  const int32_t left = 3 * std::max(0, x - 1), right = 3 * std::min(w - 1, x + 1);
  for (int c = 0; c < 3; ++c) {
    const int centre = mid[3 * x + c];
    int sum = 0;
    for (const uint8_t* r : {up, mid, down}) {
      for (const int32_t at : {left, 3 * x, right}) {
        const int v = r[at + c];
        const int d = v > centre ? v - centre : centre - v;
        sum += d <= ring ? v : centre;
      }
    }
    out[3 * x + c] = static_cast<uint8_t>((sum + 4) / 9);
  }
}

// One pass of the filter over the blocks that hold an edge. A row of blocks
// is filtered into `out` from the page as it was and then written back; the
// last row of the row of blocks above is kept as it was in `above`.
void Dering(DibImage& image, const Thresholds& t, const std::vector<uint8_t>& flags, int32_t across,
            int32_t down) {
  const int32_t w = image.Width(), h = image.Height();
  const size_t bytes = static_cast<size_t>(w) * 3;
  std::vector<uint8_t> above(bytes), out(bytes * 8);
  std::copy_n(image.Row(0), bytes, above.data());
  for (int32_t by = 0; by < down; ++by) {
    const uint8_t* flag = flags.data() + static_cast<size_t>(by) * across;
    const int32_t y0 = 8 * by, y1 = std::min(h, y0 + 8);
    for (int32_t y = y0; y < y1; ++y) {
      const uint8_t* up = y == y0 ? above.data() : image.Row(y - 1);
      const uint8_t* mid = image.Row(y);
      const uint8_t* below = image.Row(std::min(h - 1, y + 1));
      uint8_t* o = out.data() + static_cast<size_t>(y - y0) * bytes;
      for (int32_t bx = 0; bx < across; ++bx) {
        if (flag[bx] == 0) continue;
        const int32_t first = bx;
        while (bx + 1 < across && flag[bx + 1] != 0) ++bx;  // a run of them at once
        const int32_t x0 = 8 * first, x1 = std::min(w, 8 * bx + 8);
        const int32_t inner0 = std::max(1, x0), inner1 = std::min(w - 1, x1);
        if (inner0 < inner1) DeringBytes(up, mid, below, o, 3 * inner0, 3 * inner1, t.ring);
        if (x0 == 0) DeringEdgePixel(up, mid, below, o, 0, w, t.ring);
        if (x1 == w && w > 1) DeringEdgePixel(up, mid, below, o, w - 1, w, t.ring);
      }
    }
    std::copy_n(image.Row(y1 - 1), bytes, above.data());
    for (int32_t y = y0; y < y1; ++y) {
      const uint8_t* o = out.data() + static_cast<size_t>(y - y0) * bytes;
      uint8_t* row = image.Row(y);
      for (int32_t bx = 0; bx < across; ++bx) {
        if (flag[bx] == 0) continue;
        const size_t from = 24 * static_cast<size_t>(bx);
        while (bx + 1 < across && flag[bx + 1] != 0) ++bx;
        std::copy(o + from, o + std::min(bytes, 24 * static_cast<size_t>(bx) + 24), row + from);
      }
    }
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
    const int32_t across = (image.Width() + 7) / 8, down = (image.Height() + 7) / 8;
    const std::vector<uint8_t> flags = EdgeBlocks(image, t.ring, across, down);
    // Twice: the halo of an edge reaches a few pixels into its block.
    Dering(image, t, flags, across, down);
    Dering(image, t, flags, across, down);
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
