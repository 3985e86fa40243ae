// SPDX-License-Identifier: GPL-2.0-or-later
// Tests of resizing, cropping and fitting.
//
// Every resampler is compared byte for byte (header and row padding
// included) with a slow reference below that works one destination pixel at
// a time: kernel entries in exact integers, reducer weights in closed form
// (cell i * D / S, fill i * D % S), taps recomputed for every pixel. The
// edge cases use hand-worked values.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "core/dib_image.h"
#include "core/para_block.h"
#include "core/resample.h"
#include "tests/test_support.h"

namespace inkbrite {
namespace {

using test::PixelAt;

// ---------------------------------------------------------------------------
// Images. References address rows in storage order: row 0 is the bottom.

uint8_t Get(const DibImage& im, int x, int stored, int c) {
  return im.Bits()[static_cast<size_t>(stored) * im.RowBytes() + x * 3 + c];
}

// A w x h image whose byte (x, stored row, channel) is value(x, row, c).
template <typename F>
DibImage Build(int w, int h, F value) {
  return test::MakeBytes(w, h, [&](int32_t x, int32_t y, int c) {
    return static_cast<uint8_t>(value(x, h - 1 - y, c));
  });
}

DibImage Uniform(int w, int h, int v) { return test::MakeFilled(w, h, test::Grey(v)); }

// "" when both packed DIBs (header and padding included) are equal, else
// where they first differ.
std::string Difference(const DibImage& a, const DibImage& b) {
  const auto& pa = a.PackedDib();
  const auto& pb = b.PackedDib();
  const auto diff = std::mismatch(pa.begin(), pa.end(), pb.begin(), pb.end());
  if (diff.first == pa.end() && diff.second == pb.end()) return "";
  return "differ at byte " + std::to_string(diff.first - pa.begin());
}

DibImage Resized(const DibImage& src, int w, int h, int filter) {
  DibImage out = src;
  EXPECT_TRUE(out.ResizeTo(w, h, filter));
  return out;
}

// ---------------------------------------------------------------------------
// References

// 256 * W(a / 256) * 18 * 65536 for the distance a / 256 as an exact
// integer; the entry is that over 18 * 65536, truncated toward zero.
int RefKernel(int k, int f) {
  const int64_t a = std::array<int64_t, 4>{256 + f, f, 256 - f, 512 - f}[k];
  if (a >= 512) return 0;
  if (a < 256) return static_cast<int>((21 * a * a * a - 9216 * a * a + 268435456) / 1179648);
  return static_cast<int>((-7 * a * a * a + 9216 * a * a - 3932160 * a + 536870912) / 1179648);
}

// Reducer weights of source pixel i in closed form: a pixel that straddles
// always opens the next cell, so i pixels fill i * D / S cells and
// i * D % S of the next.
std::array<int64_t, 3> RefArea(int64_t i, int64_t S, int64_t D) {
  const int64_t fill = i * D % S;
  if (fill + D > S) return {i * D / S, (S - fill) * 4096 / S, (fill + D - S) * 4096 / S};
  return {i * D / S, D * 4096 / S, 0};
}

DibImage RefAreaReduce(const DibImage& s, int w, int h) {
  std::vector<uint32_t> acc(static_cast<size_t>(w + 1) * (h + 1) * 3);
  for (int r = 0; r < s.Height(); ++r)
    for (int i = 0; i < s.Width(); ++i) {
      const auto wy = RefArea(r, s.Height(), h);  // {cell, w0, w1}
      const auto wx = RefArea(i, s.Width(), w);
      for (int dy = 0; dy < 2; ++dy)
        for (int dx = 0; dx < 2; ++dx)
          for (int c = 0; c < 3; ++c)
            acc[((wy[0] + dy) * (w + 1) + wx[0] + dx) * 3 + c] +=
                static_cast<uint32_t>(wy[1 + dy] * wx[1 + dx] * Get(s, i, r, c));
    }
  return Build(w, h, [&](int x, int y, int c) { return acc[(y * (w + 1) + x) * 3 + c] >> 24; });
}

// Positions grow by repeated float addition; float drift past the last row
// or column reads the last one.
DibImage RefBilinear(const DibImage& s, int w, int h) {
  const int W = s.Width();
  const int H = s.Height();
  std::vector<float> xs(1, 0.0f);
  std::vector<float> ys(1, 0.0f);
  while (xs.size() < static_cast<size_t>(w)) xs.push_back(xs.back() + float(W) / float(w));
  while (ys.size() < static_cast<size_t>(h)) ys.push_back(ys.back() + float(H) / float(h));
  return Build(w, h, [&](int j, int i, int c) {
    const float x = xs[static_cast<size_t>(j)];
    const float y = ys[static_cast<size_t>(i)];
    const float fx = x - static_cast<float>(static_cast<int>(x));
    const float fy = y - static_cast<float>(static_cast<int>(y));
    const int a = std::min(static_cast<int>(x), W - 1);
    const int b = std::min(a + 1, W - 1);
    const int u = std::min(static_cast<int>(y), H - 1);
    const int v = std::min(u + 1, H - 1);
    return static_cast<int>((1 - fx) * ((1 - fy) * Get(s, a, u, c) + fy * Get(s, a, v, c)) +
                            fx * ((1 - fy) * Get(s, b, u, c) + fy * Get(s, b, v, c)));
  });
}

// Bicubic (16 taps) or nearest, from positions i * step in 8-bit fixed
// point; step = trunc(L * 256 / l + 0.5) in integers.
DibImage RefFixedPoint(const DibImage& s, int w, int h, bool cubic) {
  const int64_t sx = (512 * int64_t{s.Width()} + w) / (2 * w);
  const int64_t sy = (512 * int64_t{s.Height()} + h) / (2 * h);
  const auto row = [&](int64_t p) {
    return static_cast<int>(std::min<int64_t>(p, s.Height() - 1));
  };
  const auto col = [&](int64_t p) { return static_cast<int>(std::min<int64_t>(p, s.Width() - 1)); };
  return Build(w, h, [&](int j, int i, int c) {
    const int64_t X = j * sx;
    const int64_t Y = i * sy;
    if (!cubic) return static_cast<int>(Get(s, col(X / 256), row(Y / 256), c));
    int64_t sum = 0;
    for (int k = 0; k < 4; ++k)
      for (int l = 0; l < 4; ++l)
        sum += int64_t{RefKernel(k, static_cast<int>(Y % 256))} *
               RefKernel(l, static_cast<int>(X % 256)) *
               Get(s, col(X / 256 + l), row(Y / 256 + k), c);
    return static_cast<int>(std::clamp<int64_t>(sum / 65536, 0, 255));
  });
}

// Tent-filtered sample i of D from at(0 .. S - 1).
template <typename F>
int RefTent(F at, int i, int S, int D) {
  if (S == D) return at(i);
  const double s = static_cast<double>(D) / S;
  const double scale = std::min(s, 1.0);
  const double support = 1 / scale;
  const double c = i / s;
  int left = std::max(0, static_cast<int>(std::floor(c - support)));
  const int right = std::min(static_cast<int>(std::ceil(c + support)), S - 1);
  if (right - left + 1 > 2 * static_cast<int>(std::ceil(support)) + 1) ++left;
  std::vector<double> w;
  double total = 0;
  for (int j = left; j <= right; ++j) {
    w.push_back(scale * std::max(0.0, 1 - std::fabs(scale * (j - c))));
    total += w.back();
  }
  double sum = 0;
  for (int j = left; j <= right; ++j) sum += w[static_cast<size_t>(j - left)] / total * at(j);
  return static_cast<int>(sum + 0.5);
}

// Rows counted from the top, as the scaler counts them.
DibImage RefTwoPass(const DibImage& s, int w, int h) {
  const int W = s.Width();
  const int H = s.Height();
  const DibImage mid = Build(w, H, [&](int x, int r, int c) {
    return RefTent([&](int j) { return Get(s, j, r, c); }, x, W, w);
  });
  return Build(w, h, [&](int x, int r, int c) {
    return RefTent([&](int j) { return Get(mid, x, H - 1 - j, c); }, h - 1 - r, H, h);
  });
}

// ---------------------------------------------------------------------------
// Tests

TEST(ResampleKernels, MatchExactWeights) {
  BuildKernelTables();
  BuildKernelTables();  // idempotent
  for (int k = 0; k < 4; ++k)
    for (int f = 0; f < 256; ++f) {
      ASSERT_EQ(RowKernel()[KernelIndex(k, f)], RefKernel(k, f)) << k << "," << f;
      ASSERT_EQ(ColKernel()[KernelIndex(k, f)], RefKernel(k, f)) << k << "," << f;
    }
  const int atZero[] = {14, 227, 14, 0};
  const int atHalf[] = {-8, 136, 136, -8};
  for (int k = 0; k < 4; ++k) {
    EXPECT_EQ(RowKernel()[KernelIndex(k, 0)], atZero[k]);
    EXPECT_EQ(RowKernel()[KernelIndex(k, 128)], atHalf[k]);
  }
  EXPECT_EQ(RowKernel()[KernelIndex(0, 64)], -6);  // exactly -6: must not truncate to -5
}

// Random pictures with padded rows; the reference is picked by the rules,
// so each case also checks that the intended resampler ran.
TEST(Resample, MatchesReferences) {
  // Reducer (7000 and 5000 long: second weights truncating to 0), enlarger
  // (1 -> 9723 drifts past the last column), two-pass, bicubic, nearest.
  const int cases[][5] = {
      {0, 37, 23, 20, 11},
      {0, 64, 48, 63, 47},
      {0, 33, 17, 33, 9},
      {0, 9, 31, 4, 31},
      {0, 7000, 2, 3001, 1},
      {0, 2, 5000, 1, 2311},
      {0, 13, 7, 29, 18},
      {0, 5, 5, 5, 12},
      {0, 31, 9, 67, 9},
      {0, 1, 2, 9723, 3},
      {0, 13, 9, 26, 9},
      {0, 13, 9, 26, 20},
      {0, 13, 9, 26, 4},
      {0, 7, 31, 14, 5},
      {1, 17, 13, 9, 7},
      {1, 17, 13, 41, 29},
      {1, 7, 5, 7, 11},
      {1, 40, 30, 13, 50},
      {2, 17, 13, 9, 7},
      {2, 17, 13, 41, 29},
      {2, 3, 1, 2, 1},
      {2, 40, 30, 13, 50},
      // Both sides exactly halved (a way of its own), and one side only.
      {0, 64, 48, 32, 24},
      {0, 2, 2, 1, 1},
      {0, 130, 6, 65, 3},
      {0, 66, 47, 33, 23},
      {0, 66, 46, 33, 22},
      {0, 66, 46, 34, 23},
      // An e-reader's fit (1700 -> 1167 across), a one-pixel-wide source and
      // a cell closed exactly by the row's last pixel.
      {0, 1700, 7, 1167, 5},
      {0, 1, 40, 1, 17},
      {0, 12, 9, 4, 3},
  };
  uint32_t seed = 12345;
  for (const auto& [f, W, H, w, h] : cases) {
    SCOPED_TRACE(testing::Message() << f << ": " << W << "x" << H << " -> " << w << "x" << h);
    const DibImage src = test::MakeNoise(W, H, seed += 7919);
    const DibImage ref = f != 0           ? RefFixedPoint(src, w, h, f == 1)
                         : w == 2 * W     ? RefTwoPass(src, w, h)
                         : w < W || h < H ? RefAreaReduce(src, w, h)
                                          : RefBilinear(src, w, h);
    EXPECT_EQ(Difference(Resized(src, w, h, f), ref), "");
  }
}

// Filter 0 doubling both sides, along rows and then columns: even pixels
// copy, odd ones are rounded means of their neighbours, the last copies.
TEST(Resample, FilterZeroDoublesByMeans) {
  const DibImage src = test::MakeNoise(100, 80, 99);
  const auto twice = [](int n, int length, const auto& at) -> int {
    if (n % 2 == 0 || n == length - 1) return at(n / 2);
    return (at(n / 2) + at(n / 2 + 1) + 1) / 2;
  };
  const DibImage big = Resized(src, 200, 160, 0);
  for (int y = 0; y < 160; ++y)
    for (int x = 0; x < 200; ++x)
      for (int c = 0; c < 3; ++c) {
        const int expected = twice(y, 160, [&](int row) {
          return twice(x, 200, [&](int col) { return Get(src, col, 79 - row, c); });
        });
        ASSERT_EQ(Get(big, x, 159 - y, c), expected) << x << "," << y;
      }
}

TEST(Resample, FormsWithoutFilterReadTheApplicationBlock) {
  const DibImage src = test::MakeNoise(21, 15, 5);
  for (int filter : {1, 2, 0}) {  // ends on the default
    AppParams().SetValue(kResizeType, filter);
    DibImage a = src;
    DibImage b = src;
    EXPECT_TRUE(a.ResizeTo(31, 10));
    EXPECT_TRUE(b.ResizePercent(170));  // 35 x 25: 170 * 21 / 100 truncates
    EXPECT_EQ(Difference(a, Resized(src, 31, 10, filter)), "");
    EXPECT_EQ(Difference(b, Resized(src, 35, 25, filter)), "");
  }
}

TEST(Resample, HandWorkedValues) {
  // Reducer: a cell of 3 -> 2 weighs 2730 + 1365 = 4095 per axis, 2 -> 1
  // weighs 2048 + 2048.
  EXPECT_EQ(Get(Resized(Uniform(3, 3, 255), 2, 2, 0), 0, 0, 0), 254);
  EXPECT_EQ(Get(Resized(Uniform(2, 2, 255), 1, 1, 0), 0, 0, 0), 255);
  const DibImage ramp = Build(4, 1, [](int x, int, int) { return 10 * (x + 1); });
  const DibImage half = Resized(ramp, 2, 1, 0);
  EXPECT_EQ(Get(half, 0, 0, 1), 15);
  EXPECT_EQ(Get(half, 1, 0, 1), 35);
  // Bicubic 3 -> 2 steps by 384: fraction 0 (weights sum 255) at pixel 0,
  // 128 (sum 256) at pixel 1.
  const DibImage cubic = Resized(Uniform(3, 3, 255), 2, 2, 1);
  EXPECT_EQ(Get(cubic, 0, 0, 0), 253);
  EXPECT_EQ(Get(cubic, 1, 0, 0), 254);
  EXPECT_EQ(Get(cubic, 1, 1, 0), 255);
  // Nearest 3 -> 2 takes columns 0 and 1.
  const DibImage near = Resized(Build(3, 1, [](int x, int, int) { return x; }), 2, 1, 2);
  EXPECT_EQ(Get(near, 0, 0, 2), 0);
  EXPECT_EQ(Get(near, 1, 0, 2), 1);
}

// Filter 0 growing one side and shrinking the other: the shrinking side is
// reduced first, then the other enlarged; no row or column is left black.
TEST(Resample, OneSideGrowingTheOtherShrinking) {
  const DibImage src = test::MakeNoise(37, 5, 3);
  DibImage byHand = src;
  ASSERT_TRUE(byHand.ResizeTo(30, 5, 0));
  ASSERT_TRUE(byHand.ResizeTo(30, 9, 0));
  EXPECT_EQ(Difference(Resized(src, 30, 9, 0), byHand), "");
  const DibImage wide = Resized(Uniform(40, 30, 200), 90, 20, 0);
  for (int x = 0; x < 90; ++x) EXPECT_GE(Get(wide, x, 19, 1), 198) << x;
}

TEST(Resample, RefusalsLeaveTheImageAlone) {
  const DibImage src = test::MakeNoise(11, 7, 77);
  DibImage im = src;
  for (const auto& [w, h] : {std::pair{0, 7}, {11, 0}, {-3, 5}, {65536, 7}, {65535, 65535}})
    EXPECT_FALSE(im.ResizeTo(w, h, 0)) << w << "x" << h;  // the last is over 2 GiB
  EXPECT_TRUE(im.ResizeTo(11, 7, 1));
  EXPECT_TRUE(im.ResizePercent(100, 0));
  EXPECT_FALSE(im.ResizePercent(5, 0));  // 5 * 7 / 100 = 0 rows
  EXPECT_FALSE(im.ResizePercent(-50, 0));
  EXPECT_FALSE(im.Crop(0, 0, 0, 0));
  EXPECT_FALSE(im.Crop(6, 0, 5, 0));  // leaves no column
  EXPECT_FALSE(im.Crop(0, 3, 0, 4));
  EXPECT_FALSE(im.Crop(-1, 0, 0, 0));
  EXPECT_EQ(Difference(im, src), "");

  DibImage empty;
  EXPECT_FALSE(empty.ResizePercent(100, 0));
  EXPECT_FALSE(empty.Crop(1, 0, 0, 0));
  DibImage grey;
  ASSERT_TRUE(grey.Attach(test::MakeDib(2, 2, 8, {{1, 2, 3, 0}}, {{0, 0, 0, 0}, {0, 0, 0, 0}})));
  EXPECT_FALSE(grey.ResizeTo(4, 4, 0));
  EXPECT_FALSE(grey.Crop(1, 0, 0, 0));
  EXPECT_EQ(grey.BitCount(), 8);
}

TEST(ResampleCrop, KeepsTheInnerRectangle) {
  const DibImage src = test::MakeNoise(100, 50, 4);
  DibImage im = src;
  ASSERT_TRUE(im.Crop(10, 0, 0, 0));
  ASSERT_EQ(std::pair(im.Width(), im.Height()), std::pair(90, 50));
  for (int y = 0; y < 50; ++y) ASSERT_EQ(PixelAt(im, 0, y), PixelAt(src, 10, y));
  im = src;
  ASSERT_TRUE(im.Crop(3, 5, 90, 44));  // 7 x 1: rows of 21 bytes padded to 24
  ASSERT_EQ(std::pair(im.Width(), im.Height()), std::pair(7, 1));
  for (int x = 0; x < 7; ++x) ASSERT_EQ(PixelAt(im, x, 0), PixelAt(src, 3 + x, 5));
  EXPECT_EQ(im.PackedDib().size(), 40u + 24u);
  EXPECT_EQ(im.PackedDib().back(), 0);

  // Every side at once, rows of several widths: each kept pixel where it
  // belongs, every padding byte zero, the block exactly as long as a new one.
  for (const auto& [l, t, r, b] : {std::array{5, 7, 3, 2}, std::array{0, 0, 1, 0},
                                   std::array{1, 0, 0, 49}, std::array{99, 3, 0, 3}}) {
    SCOPED_TRACE(testing::Message() << l << "," << t << "," << r << "," << b);
    DibImage cut = src;
    ASSERT_TRUE(cut.Crop(l, t, r, b));
    const int w = 100 - l - r;
    const int h = 50 - t - b;
    ASSERT_EQ(std::pair(cut.Width(), cut.Height()), std::pair(w, h));
    const auto rowBytes = static_cast<size_t>(DibImage::RowBytesFor(w, 24));
    EXPECT_EQ(cut.PackedDib().size(), 40u + rowBytes * static_cast<size_t>(h));
    DibImage fresh;
    ASSERT_TRUE(fresh.Create(w, h, 24));
    EXPECT_TRUE(std::equal(cut.PackedDib().begin(), cut.PackedDib().begin() + 40,
                           fresh.PackedDib().begin()));  // the header of a new picture
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) ASSERT_EQ(PixelAt(cut, x, y), PixelAt(src, l + x, t + y));
      for (size_t i = static_cast<size_t>(w) * 3; i < rowBytes; ++i) ASSERT_EQ(cut.Row(y)[i], 0);
    }
    // A picture cut to less than half keeps no more than twice its memory.
    EXPECT_LT(cut.PackedDib().capacity(), 2 * cut.PackedDib().size());
  }
}

TEST(ResampleFitSize, ShrinksToTheLimitingSide) {
  const int fits[][6] = {
      {1000, 500, 400, 400, 400, 200}, {500, 1000, 400, 400, 200, 400},
      {300, 200, 400, 400, 300, 200},  {1000, 333, 500, 500, 500, 167},  // 166.5 rounds up
      {1001, 333, 500, 500, 500, 166}, {300, 200, 0, 400, 300, 200},
      {300, 200, 250, -1, 300, 200},
  };
  for (const auto& [W, H, rw, rh, w, h] : fits) {
    int32_t width = -1;
    int32_t height = -1;
    Uniform(W, H, 0).FitSize(rw, rh, width, height);
    EXPECT_EQ(std::pair(width, height), std::pair(w, h))
        << W << "x" << H << " in " << rw << "x" << rh;
  }
}

// A thin strip keeps one pixel across instead of none, so the fitted size can
// be applied.
TEST(ResampleFitSize, NoSideBelowOne) {
  const int fits[][6] = {
      {1, 10000, 400, 400, 1, 400}, {10000, 1, 400, 400, 400, 1}, {3, 10000, 400, 400, 1, 400}};
  for (const auto& [W, H, rw, rh, w, h] : fits) {
    DibImage page = Uniform(W, H, 0x80);
    int32_t width = -1;
    int32_t height = -1;
    page.FitSize(rw, rh, width, height);
    EXPECT_EQ(std::pair(width, height), std::pair(w, h)) << W << "x" << H;
    EXPECT_TRUE(page.ResizeTo(width, height, 0)) << W << "x" << H;
  }
}

}  // namespace
}  // namespace inkbrite
