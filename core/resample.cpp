// SPDX-License-Identifier: GPL-2.0-or-later
// Resampling and cropping of DibImage: ResizeTo, ResizePercent, Crop and
// FitSize, plus the kernel tables of the bicubic resampler.
//
// ResizeTo picks one of five resamplers from the filter (0 bilinear,
// 1 bicubic, anything else nearest) and the direction of the change:
//
//   filter 0 and the width exactly doubled    two-pass tent scaler
//   a side shrinks                             0: area-average reducer
//                                              1: bicubic, else nearest
//   no side shrinks                            0: bilinear enlarger
//                                              1: bicubic, else nearest
//
// Row order is part of each resampler's arithmetic, not a detail: the
// reducer walks the source rows bottom (stored) row first and writes its rows
// in that order, the enlarger, bicubic and nearest resamplers number their
// output rows in storage order (row 0 is the bottom row), and the two-pass
// scaler counts rows from the top. Turning a loop round changes bytes.
//
// Sizes: a side must be 1 to 65535 pixels. A resize to a side of 0 or less,
// or above 65535, returns false and changes nothing, as does a crop that
// would leave nothing. All operations need a 24-bit image or a page of grey
// levels (every resampler is made for pixels of 3 bytes and of 1, the same
// arithmetic on each byte); any failure, allocation included, leaves the
// image as it was.

#include "core/resample.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "core/dib_image.h"
#include "core/dib_layout.h"
#include "core/para_block.h"

namespace inkbrite {

namespace {

// ---------------------------------------------------------------------------
// Kernel tables

std::array<int32_t, kKernelTableSize> g_rowKernel;
std::array<int32_t, kKernelTableSize> g_colKernel;
std::once_flag g_kernelTablesOnce;

// Mitchell-Netravali, B = C = 1/3, term by term as written. Two entries
// (tap 0 at f = 64 and tap 3 at f = 192, both |d| = 1.25) are exactly -6 in
// exact arithmetic, so double rounding decides their truncation: this order
// gives -6.0000000000001 and so -6, the exact value. The tests check every
// entry against exact integers.
double MitchellNetravali(double x) {
  const double a = std::fabs(x);
  if (a < 1.0) return 7.0 / 6.0 * a * a * a - 2.0 * x * x + 8.0 / 9.0;
  if (a < 2.0) return -7.0 / 18.0 * a * a * a + 2.0 * x * x - 10.0 / 3.0 * a + 16.0 / 9.0;
  return 0.0;
}

int32_t KernelEntry(double d) {
  return static_cast<int32_t>(std::trunc(256.0 * MitchellNetravali(d)));
}

void FillKernelTables() {
  for (int k = 0; k < kKernelTaps; ++k) {
    for (int f = 0; f < kKernelFractions; ++f) {
      g_rowKernel[KernelIndex(k, f)] = KernelEntry((k - 1) - f / 256.0);
      g_colKernel[KernelIndex(k, f)] = KernelEntry(f / 256.0 + 1 - k);
    }
  }
}

// ---------------------------------------------------------------------------
// Shared helpers

constexpr int32_t kMaxResampleSide = 65535;  // sizes are 16-bit values

enum class Resampler { kTwoPass, kAreaReduce, kBilinear, kBicubic, kNearest };

Resampler Choose(int filter, int32_t srcWidth, int32_t srcHeight, int32_t width, int32_t height) {
  if (filter == 0 && width == 2 * srcWidth) return Resampler::kTwoPass;
  const bool shrinks = width < srcWidth || height < srcHeight;
  if (filter == 0) return shrinks ? Resampler::kAreaReduce : Resampler::kBilinear;
  if (filter == 1) return Resampler::kBicubic;
  return Resampler::kNearest;
}

// Source and target pixel rows as plain pointers, so no loop below goes
// through the image's accessors.
struct Pixels {
  uint8_t* bits;
  size_t stride;
  int32_t width;
  int32_t height;
  // Row `stored` in storage order: 0 is the bottom row.
  uint8_t* Stored(int64_t stored) const { return bits + static_cast<size_t>(stored) * stride; }
  // Row `y` counted from the top.
  uint8_t* FromTop(int64_t y) const { return Stored(height - 1 - y); }
};

Pixels PixelsOf(DibImage& image) {
  return Pixels{image.Bits(), static_cast<size_t>(image.RowBytes()), image.Width(), image.Height()};
}

// Step with 8 fractional bits: trunc(from * 256 / to + 0.5), a real division.
int64_t FixedStep(int32_t from, int32_t to) {
  return static_cast<int64_t>(
      std::trunc(static_cast<double>(from) * 256.0 / static_cast<double>(to) + 0.5));
}

// ---------------------------------------------------------------------------
// Area-average reducer
//
// Each source pixel of an axis of length S covers D/S of a destination cell
// (D the destination length); a running fill d says how much of the current
// cell is already covered. The pixel's weights are 12-bit fractions of 4096:
// w0 for the current cell and, when it straddles into the next cell, w1.
// A cell's weights add up to 4096 or slightly less (truncation), so the
// product of the two axes stays within 24 bits and a channel sum within 32:
// the top byte of the sum is the mean.

struct AreaAxis {
  std::vector<int32_t> cell;     // destination cell the pixel starts in
  std::vector<int32_t> w0;       // weight in that cell
  std::vector<int32_t> w1;       // weight in the next cell; 0 when it adds nothing
  std::vector<uint8_t> advance;  // 1 when the pixel closes its cell
};

AreaAxis BuildAreaAxis(int32_t S, int32_t D) {
  AreaAxis axis;
  axis.cell.resize(static_cast<size_t>(S));
  axis.w0.resize(static_cast<size_t>(S));
  axis.w1.resize(static_cast<size_t>(S));
  axis.advance.resize(static_cast<size_t>(S));
  int64_t d = 0;
  int32_t cell = 0;
  for (int32_t i = 0; i < S; ++i) {
    const auto n = static_cast<size_t>(i);
    const int64_t e = d + D;
    axis.cell[n] = cell;
    if (e > S) {
      // Straddles two cells. Deliberate rule: such a pixel always moves on to
      // the next cell. Keyed on its second weight instead, a source longer
      // than 4096 pixels would stall wherever (e - S) * 4096 / S truncates
      // to 0, shifting the rest of the line and leaving the last cells black.
      axis.w0[n] = static_cast<int32_t>((S - d) * 4096 / S);
      axis.w1[n] = static_cast<int32_t>((e - S) * 4096 / S);
      axis.advance[n] = 1;
      d = e - S;
    } else {
      axis.w0[n] = static_cast<int32_t>(int64_t{D} * 4096 / S);
      axis.w1[n] = 0;  // e == S closes the cell but adds nothing to the next
      axis.advance[n] = e == S ? 1 : 0;
      d = e == S ? 0 : e;
    }
    if (axis.advance[n] != 0) ++cell;
  }
  return axis;
}

// Also serves a change that grows one side and shrinks the other (the
// chooser sends it here with filter 0). On the growing axis the same rule
// runs on: every pixel straddles, the fill grows past S, the weights leave
// 0 to 4096 and the sums wrap modulo 2^32 (unsigned arithmetic keeps that
// defined), and only one destination row or column per source one is
// reached; the rows never reached stay black.
// Both sides exactly halved: every pixel weighs 2048 on both axes, so a
// cell's sum is 2048 * 2048 * (the four pixels' sum) and its top byte is
// that sum / 4, truncated. The same bytes as the general reducer, without
// its weight tables and 32-bit line sums.
template <size_t C>
void HalveExactly(const Pixels& src, const Pixels& dst) {
  const auto bytes = static_cast<size_t>(dst.width) * C;
  for (int32_t r = 0; r < dst.height; ++r) {
    const uint8_t* a = src.Stored(2 * int64_t{r});
    const uint8_t* b = src.Stored(2 * int64_t{r} + 1);
    uint8_t* out = dst.Stored(r);
    for (size_t k = 0; k < bytes; k += C, a += 2 * C, b += 2 * C) {
      for (size_t c = 0; c < C; ++c) {
        out[k + c] = static_cast<uint8_t>((unsigned{a[c]} + a[c + C] + b[c] + b[c + C]) >> 2);
      }
    }
  }
}

// The reducer's x pass over one row of `width` pixels: a running sum per
// channel is the current cell's sum so far. A pixel adds
// w0 * q, stores the sum in its cell, and keeps it (`keep` all ones) or
// starts the next cell with w1 * q (`keep` 0).
// One channel's step of ReduceRowX.
inline void ReduceStep(uint32_t& s, uint32_t v, uint32_t* cell, uint32_t w0, uint32_t w1,
                       uint32_t keep) {
  const uint32_t sum = s + w0 * v;
  *cell = sum;
  s = (sum & keep) + w1 * v;
}

template <size_t C>
void ReduceRowX(const uint8_t* __restrict p, uint32_t* __restrict line, size_t width,
                const uint32_t* offset, const uint32_t* w0, const uint32_t* w1,
                const uint32_t* keep) {
  static_assert(C == 1 || C == 3);
  // Named sums, not an array: the optimiser keeps them in registers.
  uint32_t s0 = 0;
  uint32_t s1 = 0;
  uint32_t s2 = 0;
  for (size_t i = 0; i < width; ++i, p += C) {
    uint32_t* cell = line + offset[i];
    ReduceStep(s0, p[0], cell, w0[i], w1[i], keep[i]);
    if constexpr (C == 3) {
      ReduceStep(s1, p[1], cell + 1, w0[i], w1[i], keep[i]);
      ReduceStep(s2, p[2], cell + 2, w0[i], w1[i], keep[i]);
    }
  }
  if (width > 0 && keep[width - 1] == 0) {  // the last pixel closed its cell: its w1 goes on
    uint32_t* cell = line + offset[width - 1] + C;
    cell[0] = s0;
    if constexpr (C == 3) {
      cell[1] = s1;
      cell[2] = s2;
    }
  }
}

// Four 32-bit lanes (every x86-64 and ARM64 processor has them): the compiler's vector type, so the
// row loops below are vector code whatever the optimiser decides (plain loops at -O2 stay scalar).
// Unsigned lanes wrap modulo 2^32 as the scalar sums do.
using U32x4 = uint32_t __attribute__((vector_size(16)));
constexpr size_t kLanes = 4;

U32x4 LoadLanes(const uint32_t* p) {
  U32x4 v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
void StoreLanes(uint32_t* p, U32x4 v) { std::memcpy(p, &v, sizeof v); }

// sum[k] += w * line[k]
void AddScaled(uint32_t* __restrict sum, const uint32_t* __restrict line, uint32_t w, size_t n) {
  size_t k = 0;
  for (; k + kLanes <= n; k += kLanes)
    StoreLanes(sum + k, LoadLanes(sum + k) + LoadLanes(line + k) * w);
  for (; k < n; ++k) sum[k] += w * line[k];
}

// a[k] += wa * line[k] and b[k] += wb * line[k], one read of the line.
void AddScaledTwice(uint32_t* __restrict a, uint32_t* __restrict b, const uint32_t* __restrict line,
                    uint32_t wa, uint32_t wb, size_t n) {
  size_t k = 0;
  for (; k + kLanes <= n; k += kLanes) {
    const U32x4 v = LoadLanes(line + k);
    StoreLanes(a + k, LoadLanes(a + k) + v * wa);
    StoreLanes(b + k, LoadLanes(b + k) + v * wb);
  }
  for (; k < n; ++k) {
    a[k] += wa * line[k];
    b[k] += wb * line[k];
  }
}

// out[k] = the top byte of sum[k].
void TopBytes(const uint32_t* __restrict sum, uint8_t* __restrict out, size_t n) {
  size_t k = 0;
#ifdef __SSE2__
  // Each top byte is at most 255, so both packs keep it as it is.
  for (; k + 16 <= n; k += 16) {
    const auto lanes = [&](size_t at) {
      return _mm_srli_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(sum + k + at)), 24);
    };
    const __m128i low = _mm_packs_epi32(lanes(0), lanes(4));
    const __m128i high = _mm_packs_epi32(lanes(8), lanes(12));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + k), _mm_packus_epi16(low, high));
  }
#endif
  for (; k < n; ++k) out[k] = static_cast<uint8_t>(sum[k] >> 24);
}

template <size_t C>
void AreaReduce(const Pixels& src, const Pixels& dst) {
  if (src.width == 2 * dst.width && src.height == 2 * dst.height) {
    HalveExactly<C>(src, dst);
    return;
  }
  const AreaAxis ax = BuildAreaAxis(src.width, dst.width);
  const AreaAxis ay = BuildAreaAxis(src.height, dst.height);
  const size_t cells = (static_cast<size_t>(dst.width) + 1) * C;  // + the cell after the last
  const size_t outBytes = static_cast<size_t>(dst.width) * C;
  // Along x each pixel adds w0 * q to its cell and w1 * q to the next, and
  // the cells follow one another: a pixel's cell is the one before it or the
  // next. So a running sum per channel is the cell's sum so far; it is
  // stored at every pixel (the last store of a cell is its whole sum), and a
  // pixel that closes its cell starts the next one with its w1 * q (0 when
  // it closes the cell exactly). `keep` is all ones for a pixel that stays
  // in its cell, 0 for one that closes it, so the loop has no branch and no
  // pixel waits on the store of the one before.
  const auto width = static_cast<size_t>(src.width);
  std::vector<uint32_t> offset(width);
  std::vector<uint32_t> wx0(width);
  std::vector<uint32_t> wx1(width);
  std::vector<uint32_t> keep(width);
  for (size_t i = 0; i < width; ++i) {
    offset[i] = static_cast<uint32_t>(ax.cell[i]) * C;
    wx0[i] = static_cast<uint32_t>(ax.w0[i]);
    wx1[i] = static_cast<uint32_t>(ax.w1[i]);
    keep[i] = ax.advance[i] != 0 ? 0u : ~0u;
  }
  // A growing width reaches only one cell per pixel; the others stay 0.
  // A shrinking one stores every cell and the one after the last.
  const bool everyCellStored = src.width >= dst.width;
  // line: the current source row reduced along x, sum of wx * q per cell.
  // The row sums wy * line then equal the sums of wx * wy * q pixel by pixel
  // (modulo 2^32, exactly), whatever the order of the additions.
  std::vector<uint32_t> line(cells);
  std::vector<uint32_t> current(cells);
  std::vector<uint32_t> next(cells);
  int32_t outRow = 0;
  for (int32_t r = 0; r < src.height; ++r) {
    if (!everyCellStored) std::fill(line.begin(), line.end(), 0u);
    ReduceRowX<C>(src.Stored(r), line.data(), width, offset.data(), wx0.data(), wx1.data(),
                  keep.data());
    const auto n = static_cast<size_t>(r);
    const auto wy0 = static_cast<uint32_t>(ay.w0[n]);
    const auto wy1 = static_cast<uint32_t>(ay.w1[n]);
    if (wy1 != 0) {
      AddScaledTwice(current.data(), next.data(), line.data(), wy0, wy1, cells);
    } else {
      AddScaled(current.data(), line.data(), wy0, cells);
    }
    if (ay.advance[n] != 0) {
      if (outRow < dst.height) TopBytes(current.data(), dst.Stored(outRow), outBytes);
      ++outRow;
      current.swap(next);
      std::fill(next.begin(), next.end(), 0u);
    }
  }
}

// ---------------------------------------------------------------------------
// Bilinear enlarger
//
// Single-precision throughout: steps width / w and height / h, positions
// grown by adding the step once per pixel and once per row (starting at 0),
// and the blend
//   trunc((1 - fx) * ((1 - fy) * P(a, u) + fy * P(a, v))
//         + fx * ((1 - fy) * P(b, u) + fy * P(b, v)))
// with rows u and v in storage order. The vertical blend of a source column
// is the same float for every output pixel that reads it, so it is made once
// per output row. A position that float drift carries past the last column
// or row reads that last one.

template <size_t C>
void EnlargeBilinear(const Pixels& src, const Pixels& dst) {
  const float sx = static_cast<float>(src.width) / static_cast<float>(dst.width);
  const float sy = static_cast<float>(src.height) / static_cast<float>(dst.height);
  const auto columns = static_cast<size_t>(dst.width);
  std::vector<size_t> colA(columns);
  std::vector<size_t> colB(columns);
  std::vector<float> fx(columns);
  std::vector<float> gx(columns);  // 1 - fx
  float x = 0.0f;
  for (size_t j = 0; j < columns; ++j) {
    const auto t = static_cast<int32_t>(x);
    const int32_t a = std::min(t, src.width - 1);
    colA[j] = static_cast<size_t>(a) * C;
    colB[j] = static_cast<size_t>(std::min(a + 1, src.width - 1)) * C;
    fx[j] = x - static_cast<float>(t);
    gx[j] = 1.0f - fx[j];
    x += sx;
  }
  std::vector<float> blend(static_cast<size_t>(src.width) * C);
  float y = 0.0f;
  for (int32_t i = 0; i < dst.height; ++i) {
    const auto t = static_cast<int32_t>(y);
    const int32_t u = std::min(t, src.height - 1);
    const int32_t v = std::min(u + 1, src.height - 1);
    const float fy = y - static_cast<float>(t);
    const float gy = 1.0f - fy;
    const uint8_t* rowU = src.Stored(u);
    const uint8_t* rowV = src.Stored(v);
    for (size_t k = 0; k < blend.size(); ++k) {
      blend[k] = gy * static_cast<float>(rowU[k]) + fy * static_cast<float>(rowV[k]);
    }
    uint8_t* out = dst.Stored(i);
    for (size_t j = 0; j < columns; ++j, out += C) {
      const float* pa = blend.data() + colA[j];
      const float* pb = blend.data() + colB[j];
      const float g = gx[j];
      const float f = fx[j];
      for (size_t c = 0; c < C; ++c) {
        out[c] = static_cast<uint8_t>(static_cast<int32_t>(g * pa[c] + f * pb[c]));
      }
    }
    y += sy;
  }
}

// ---------------------------------------------------------------------------
// Bicubic resampler
//
// Output row i (storage order) sits at Y = i * sy in 8-bit fixed point,
// column j at X = j * sx. Its 16 taps are the rows n .. n + 3 and columns
// m .. m + 3 (n = Y >> 8, m = X >> 8, clamped to the last row and column),
// weighted RowKernel[k][Y & 255] * ColKernel[l][X & 255]: the taps begin at
// the sample itself, so the picture comes out shifted by about one source
// pixel to the left and downwards. The sum has 16 fractional bits.
//
// The 16 products are summed as 4 row sums of 4 (the vertical blend of each
// source column, once per output row) and then 4 of those: all integers
// within 31 bits, so the grouping gives the same sum.

// A sum with 16 fractional bits as a byte: 0 at or below 0, 255 from
// 255 * 65536 on.
inline uint8_t CubicByte(int32_t sum) {
  return sum <= 0 ? 0 : sum >= 255 * 65536 ? 255 : static_cast<uint8_t>(sum >> 16);
}

template <size_t C>
void ResampleBicubic(const Pixels& src, const Pixels& dst) {
  const KernelTable rowKernel = RowKernel();
  const KernelTable colKernel = ColKernel();
  const int64_t sx = FixedStep(src.width, dst.width);
  const int64_t sy = FixedStep(src.height, dst.height);
  const auto columns = static_cast<size_t>(dst.width);
  std::vector<size_t> tapOffset(columns * kKernelTaps);
  std::vector<int32_t> tapWeight(columns * kKernelTaps);
  for (size_t j = 0; j < columns; ++j) {
    const int64_t X = static_cast<int64_t>(j) * sx;
    const int64_t m = X >> 8;
    const auto f = static_cast<int>(X & 255);
    for (int l = 0; l < kKernelTaps; ++l) {
      const size_t t = j * kKernelTaps + static_cast<size_t>(l);
      tapOffset[t] = static_cast<size_t>(std::min<int64_t>(m + l, src.width - 1)) * C;
      tapWeight[t] = colKernel[KernelIndex(l, f)];
    }
  }
  std::vector<int32_t> blend(static_cast<size_t>(src.width) * C);
  for (int32_t i = 0; i < dst.height; ++i) {
    const int64_t Y = int64_t{i} * sy;
    const int64_t n = Y >> 8;
    const auto f = static_cast<int>(Y & 255);
    const uint8_t* r[kKernelTaps];
    int32_t w[kKernelTaps];
    for (int k = 0; k < kKernelTaps; ++k) {
      r[k] = src.Stored(std::min<int64_t>(n + k, src.height - 1));
      w[k] = rowKernel[KernelIndex(k, f)];
    }
    for (size_t c = 0; c < blend.size(); ++c) {
      blend[c] = w[0] * r[0][c] + w[1] * r[1][c] + w[2] * r[2][c] + w[3] * r[3][c];
    }
    uint8_t* out = dst.Stored(i);
    for (size_t j = 0; j < columns; ++j, out += C) {
      const size_t* o = tapOffset.data() + j * kKernelTaps;
      const int32_t* cw = tapWeight.data() + j * kKernelTaps;
      const int32_t* p0 = blend.data() + o[0];
      const int32_t* p1 = blend.data() + o[1];
      const int32_t* p2 = blend.data() + o[2];
      const int32_t* p3 = blend.data() + o[3];
      for (size_t c = 0; c < C; ++c) {
        out[c] = CubicByte(cw[0] * p0[c] + cw[1] * p1[c] + cw[2] * p2[c] + cw[3] * p3[c]);
      }
    }
  }
}

// ---------------------------------------------------------------------------
// Nearest neighbour: output row i (storage order) copies source row
// min((i * sy) >> 8, height - 1), pixel j copies column
// min((j * sx) >> 8, width - 1), with the bicubic resampler's steps.

template <size_t C>
void ResampleNearest(const Pixels& src, const Pixels& dst) {
  const int64_t sx = FixedStep(src.width, dst.width);
  const int64_t sy = FixedStep(src.height, dst.height);
  std::vector<size_t> column(static_cast<size_t>(dst.width));
  for (size_t j = 0; j < column.size(); ++j) {
    const int64_t m = (static_cast<int64_t>(j) * sx) >> 8;
    column[j] = static_cast<size_t>(std::min<int64_t>(m, src.width - 1)) * C;
  }
  for (int32_t i = 0; i < dst.height; ++i) {
    const uint8_t* in = src.Stored(std::min<int64_t>((int64_t{i} * sy) >> 8, src.height - 1));
    uint8_t* out = dst.Stored(i);
    for (size_t j = 0; j < column.size(); ++j, out += C) {
      const uint8_t* p = in + column[j];
      for (size_t c = 0; c < C; ++c) out[c] = p[c];
    }
  }
}

// ---------------------------------------------------------------------------
// Two-pass tent scaler (filter 0 with the width exactly doubled)
//
// A horizontal pass into rows of w bytes triples, then a vertical pass
// into the result; rows counted from the top. Per axis, with scale
// s = D / S: destination index i is centred on source position c = i / s,
// the tent T(x) = 1 - |x| (|x| < 1) has support 1, or 1 / s when s < 1 with
// weights s * T(s * x); the taps floor(c - support) .. ceil(c + support)
// are clamped to the source, cut to 2 * ceil(support) + 1 by dropping the
// leftmost, and normalised to sum 1 (each divided by their sum). A channel
// is trunc(sum of weight * value + 0.5), summed in tap order in double.
//
// For the doubling this makes even pixels copies of pixel i / 2, odd ones
// the mean of their neighbours rounded half up, and the last a copy of the
// last source pixel.
//
// Taps of weight 0 add exactly +0.0 to a sum that is never negative, so they
// are dropped from both ends of each list. What remains is often one tap of
// weight 1 (trunc(v + 0.5) is v: a copy) or two of weight 0.5
// (0.5 a + 0.5 b + 0.5 is exact in double: (a + b + 1) >> 1); those two
// kinds run in integers with the same bytes, everything else in double.

enum class TapKind : uint8_t { kCopy, kHalf, kGeneral };

struct TentTaps {
  std::vector<int32_t> first;  // first source index per destination index
  std::vector<int32_t> count;  // number of taps
  std::vector<size_t> start;   // position of the first weight in `weight`
  std::vector<TapKind> kind;
  std::vector<double> weight;
};

double Tent(double x) {
  const double a = std::fabs(x);
  return a < 1.0 ? 1.0 - a : 0.0;
}

TentTaps BuildTentTaps(int32_t S, int32_t D) {
  const double s = static_cast<double>(D) / static_cast<double>(S);
  const double support = s < 1.0 ? 1.0 / s : 1.0;
  const int64_t window = 2 * static_cast<int64_t>(std::ceil(support)) + 1;
  TentTaps taps;
  const auto n = static_cast<size_t>(D);
  taps.first.resize(n);
  taps.count.resize(n);
  taps.start.resize(n);
  taps.kind.resize(n);
  std::vector<double> w;
  for (int32_t i = 0; i < D; ++i) {
    const double c = i / s;
    int64_t left = std::max<int64_t>(0, static_cast<int64_t>(std::floor(c - support)));
    int64_t right = std::min<int64_t>(static_cast<int64_t>(std::ceil(c + support)), S - 1);
    if (right - left + 1 > window) {
      if (left < S) {
        ++left;
      } else {
        --right;
      }
    }
    w.clear();
    double sum = 0.0;
    for (int64_t j = left; j <= right; ++j) {
      w.push_back(s < 1.0 ? s * Tent(s * (static_cast<double>(j) - c))
                          : Tent(static_cast<double>(j) - c));
      sum += w.back();
    }
    if (sum > 0.0) {
      for (double& weight : w) weight /= sum;
    }
    size_t from = 0;
    size_t to = w.size();
    while (from < to && w[from] == 0.0) ++from;
    while (to > from && w[to - 1] == 0.0) --to;
    const auto k = static_cast<size_t>(i);
    taps.first[k] = static_cast<int32_t>(left + static_cast<int64_t>(from));
    taps.count[k] = static_cast<int32_t>(to - from);
    taps.start[k] = taps.weight.size();
    taps.weight.insert(taps.weight.end(), w.begin() + static_cast<std::ptrdiff_t>(from),
                       w.begin() + static_cast<std::ptrdiff_t>(to));
    const double* kept = w.data() + from;
    if (to - from == 1 && kept[0] == 1.0) {
      taps.kind[k] = TapKind::kCopy;
    } else if (to - from == 2 && kept[0] == 0.5 && kept[1] == 0.5) {
      taps.kind[k] = TapKind::kHalf;
    } else {
      taps.kind[k] = TapKind::kGeneral;
    }
  }
  return taps;
}

// The sum is never negative: adding 0.5 and truncating rounds half up as
// lround would, without a call per sample.
uint8_t RoundTent(double sum) {
  // NOLINTNEXTLINE(bugprone-incorrect-roundings)
  return static_cast<uint8_t>(static_cast<int32_t>(sum + 0.5));
}

uint8_t Half(uint8_t a, uint8_t b) { return static_cast<uint8_t>((a + b + 1) >> 1); }

// One row through the horizontal taps.
template <size_t C>
void TentRow(const TentTaps& h, const uint8_t* in, uint8_t* out) {
  for (size_t i = 0; i < h.first.size(); ++i, out += C) {
    const uint8_t* p = in + static_cast<size_t>(h.first[i]) * C;
    switch (h.kind[i]) {
      case TapKind::kCopy:
        for (size_t c = 0; c < C; ++c) out[c] = p[c];
        break;
      case TapKind::kHalf:
        for (size_t c = 0; c < C; ++c) out[c] = Half(p[c], p[c + C]);
        break;
      case TapKind::kGeneral: {
        const double* w = h.weight.data() + h.start[i];
        double sum[C] = {};
        for (int32_t t = 0; t < h.count[i]; ++t, p += C) {
          for (size_t c = 0; c < C; ++c) sum[c] += w[t] * p[c];
        }
        for (size_t c = 0; c < C; ++c) out[c] = RoundTent(sum[c]);
        break;
      }
    }
  }
}

template <size_t C>
void ScaleTwoPass(const Pixels& src, const Pixels& dst) {
  const auto rowBytes = static_cast<size_t>(dst.width) * C;
  const TentTaps h = BuildTentTaps(src.width, dst.width);
  if (src.height == dst.height) {  // the vertical pass copies the rows
    for (int32_t y = 0; y < dst.height; ++y) TentRow<C>(h, src.FromTop(y), dst.FromTop(y));
    return;
  }
  const TentTaps v = BuildTentTaps(src.height, dst.height);
  // The horizontal pass's rows are made when the vertical pass first asks
  // for them and kept in a ring as deep as the longest tap list: the rows of
  // one destination row never share a slot, and the window only moves down
  // the page, so each row is made once instead of buffering the whole pass.
  const auto depth =
      static_cast<size_t>(std::max(1, *std::max_element(v.count.begin(), v.count.end())));
  std::vector<uint8_t> ring(depth * rowBytes);
  std::vector<int64_t> held(depth, -1);  // source row (from the top) in each slot
  const auto row = [&](int64_t y) -> const uint8_t* {
    const size_t slot = static_cast<size_t>(y) % depth;
    uint8_t* p = ring.data() + slot * rowBytes;
    if (held[slot] != y) {
      TentRow<C>(h, src.FromTop(y), p);
      held[slot] = y;
    }
    return p;
  };
  std::vector<double> sum(rowBytes);
  for (int32_t i = 0; i < dst.height; ++i) {
    const auto n = static_cast<size_t>(i);
    uint8_t* out = dst.FromTop(i);
    switch (v.kind[n]) {
      case TapKind::kCopy: std::memcpy(out, row(v.first[n]), rowBytes); break;
      case TapKind::kHalf: {
        const uint8_t* a = row(v.first[n]);
        const uint8_t* b = row(v.first[n] + 1);
        for (size_t k = 0; k < rowBytes; ++k) out[k] = Half(a[k], b[k]);
        break;
      }
      case TapKind::kGeneral: {
        std::fill(sum.begin(), sum.end(), 0.0);
        const double* w = v.weight.data() + v.start[n];
        for (int32_t t = 0; t < v.count[n]; ++t) {
          const uint8_t* in = row(v.first[n] + t);
          const double weight = w[t];
          for (size_t k = 0; k < rowBytes; ++k) sum[k] += weight * in[k];
        }
        for (size_t k = 0; k < rowBytes; ++k) out[k] = RoundTent(sum[k]);
        break;
      }
    }
  }
}

// The resampler for pixels of C bytes.
template <size_t C>
void Resample(Resampler resampler, const Pixels& src, const Pixels& dst) {
  switch (resampler) {
    case Resampler::kTwoPass: ScaleTwoPass<C>(src, dst); break;
    case Resampler::kAreaReduce: AreaReduce<C>(src, dst); break;
    case Resampler::kBilinear: EnlargeBilinear<C>(src, dst); break;
    case Resampler::kBicubic: ResampleBicubic<C>(src, dst); break;
    case Resampler::kNearest: ResampleNearest<C>(src, dst); break;
  }
}

// A page the operations below take: 24 bits, or grey levels.
bool Resizable(const DibImage& image) { return image.Is24Bit() || image.IsGreyLevels(); }

// A new zero-filled page of `image`'s kind.
bool CreateLike(const DibImage& image, DibImage& result, int64_t width, int64_t height) {
  const auto w = static_cast<int32_t>(width);
  const auto h = static_cast<int32_t>(height);
  return image.Is24Bit() ? result.Create(w, h, 24) : result.CreateGreyLevels(w, h);
}

}  // namespace

// ---------------------------------------------------------------------------
// Public operations

void BuildKernelTables() { std::call_once(g_kernelTablesOnce, FillKernelTables); }

KernelTable RowKernel() {
  BuildKernelTables();
  return KernelTable(g_rowKernel);
}

KernelTable ColKernel() {
  BuildKernelTables();
  return KernelTable(g_colKernel);
}

bool DibImage::ResizeTo(int32_t width, int32_t height) {
  return ResizeTo(width, height, AppParams().GetValue(kResizeType));
}

bool DibImage::ResizeTo(int32_t width, int32_t height, int filter) {
  if (!Resizable(*this)) return false;
  if (width == m_nWidth && height == m_nHeight) return true;
  if (width <= 0 || height <= 0 || width > kMaxResampleSide || height > kMaxResampleSide) {
    return false;
  }
  BuildKernelTables();
  // With the bilinear setting, one side shrinking and the other growing
  // would go to the area-average reducer, which only shrinks: the growing
  // side would reach one destination row or column per source one and leave
  // the rest black. Shrink that side first, then enlarge the other.
  const bool widthShrinks = width < m_nWidth;
  const bool heightShrinks = height < m_nHeight;
  if (filter == 0 && width != 2 * m_nWidth &&
      ((widthShrinks && height > m_nHeight) || (heightShrinks && width > m_nWidth))) {
    DibImage step = *this;
    if (!step.ResizeTo(std::min(width, m_nWidth), std::min(height, m_nHeight), 0) ||
        !step.ResizeTo(width, height, 0)) {
      return false;
    }
    *this = std::move(step);
    return true;
  }
  try {
    DibImage result;
    if (!CreateLike(*this, result, width, height)) return false;
    const Pixels src = PixelsOf(*this);
    const Pixels dst = PixelsOf(result);
    const Resampler resampler = Choose(filter, m_nWidth, m_nHeight, width, height);
    if (Is24Bit()) {
      Resample<3>(resampler, src, dst);
    } else {
      Resample<1>(resampler, src, dst);
    }
    *this = std::move(result);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

bool DibImage::ResizePercent(int percent) {
  return ResizePercent(percent, AppParams().GetValue(kResizeType));
}

// percent * side / 100 in 64 bits, truncated; a side outside 1 to 65535
// fails in ResizeTo.
bool DibImage::ResizePercent(int percent, int filter) {
  if (!Resizable(*this)) return false;
  if (percent == 100) return true;
  const int64_t width = int64_t{percent} * m_nWidth / 100;
  const int64_t height = int64_t{percent} * m_nHeight / 100;
  if (width < 1 || height < 1 || width > kMaxResampleSide || height > kMaxResampleSide) {
    return false;
  }
  return ResizeTo(static_cast<int32_t>(width), static_cast<int32_t>(height), filter);
}

bool DibImage::Crop(int32_t left, int32_t top, int32_t right, int32_t bottom) {
  if (!Resizable(*this)) return false;
  if (left == 0 && top == 0 && right == 0 && bottom == 0) return false;  // nothing to do
  if (left < 0 || top < 0 || right < 0 || bottom < 0) return false;
  const int64_t width = int64_t{m_nWidth} - left - right;
  const int64_t height = int64_t{m_nHeight} - top - bottom;
  if (width < 1 || height < 1) return false;
  const size_t pixel = Is24Bit() ? 3 : 1;
  const auto bytes = static_cast<size_t>(width) * pixel;
  // A short header (the rows could overtake each other), or a colour table
  // to keep in front of them.
  if (m_nBitsOffset != kInfoHeaderSize) {
    DibImage result;
    if (!CreateLike(*this, result, width, height)) return false;
    for (int32_t y = 0; y < result.Height(); ++y) {
      std::memcpy(result.Row(y), Row(top + y) + static_cast<size_t>(left) * pixel, bytes);
    }
    *this = std::move(result);
    return true;
  }
  // In place: the kept rows move towards the start of the block (stored
  // bottom row first), each to where it was or before, behind a fresh
  // header, so no second page-sized block is made and cleared. A row and
  // its zeroed padding end before the next kept row begins.
  const auto oldRowBytes = static_cast<size_t>(m_nRowBytes);
  const auto rowBytes = static_cast<size_t>(RowBytesFor(width, 24));
  const size_t bitsOffset = m_nBitsOffset;
  std::vector<uint8_t> block = Detach();
  const uint8_t* from = block.data() + bitsOffset;
  from += static_cast<size_t>(bottom) * oldRowBytes + static_cast<size_t>(left) * 3;
  uint8_t* to = block.data() + kInfoHeaderSize;
  for (int64_t y = 0; y < height; ++y, from += oldRowBytes, to += rowBytes) {
    std::memmove(to, from, bytes);
    std::memset(to + bytes, 0, rowBytes - bytes);
  }
  block.resize(kInfoHeaderSize + rowBytes * static_cast<size_t>(height));
  // A small part of a large page gives the rest of the memory back.
  if (block.size() < block.capacity() / 2) block.shrink_to_fit();
  WriteInfoHeader(block.data(), static_cast<int32_t>(width), static_cast<int32_t>(height), 24, 0,
                  0);
  return Attach(std::move(block));
}

// The limiting side is found from integer percentages; the other side is
// rounded to the nearest pixel by the "* 10 ... + 5) / 10" step.
void DibImage::FitSizeOf(int32_t pageWidth, int32_t pageHeight, int32_t rectWidth,
                         int32_t rectHeight, int32_t& width, int32_t& height) {
  width = pageWidth;
  height = pageHeight;
  if (rectWidth <= 0 || rectHeight <= 0) return;  // no rectangle to fit: keep the size
  if (pageWidth <= rectWidth && pageHeight <= rectHeight) return;  // never enlarged
  if (pageWidth <= 0 || pageHeight <= 0) return;
  const int64_t w = pageWidth;
  const int64_t h = pageHeight;
  const int64_t rw = rectWidth;
  const int64_t rh = rectHeight;
  // A very thin page keeps at least one pixel across, so it can be resized.
  const auto narrow = [](int64_t v) {
    return static_cast<int32_t>(std::clamp<int64_t>(v, 1, INT32_MAX));
  };
  if (w * 100 / rw < h * 100 / rh) {  // the height limits
    width = narrow((w * rh * 10 / h + 5) / 10);
    height = rectHeight;
  } else {
    width = rectWidth;
    height = narrow((rw * h * 10 / w + 5) / 10);
  }
}

}  // namespace inkbrite
