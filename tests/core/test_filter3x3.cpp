// SPDX-License-Identifier: GPL-2.0-or-later
// Tests of DibImage::Sharpen and DibImage::Soften.
//
// Expected images come from a slow reference: the full nine weights of each
// kernel (written out here, not taken from the code under test) applied to a
// whole-image copy with plain int arithmetic. Every row loop the processor
// can run is checked against it, plus the hand-worked edge cases.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "core/dib_image.h"
#include "core/filter3x3.h"
#include "tests/test_support.h"

namespace inkbrite {
namespace {

using test::Bgr;
using test::PixelAt;
using test::SetPixel;

struct Weights {
  int corner, edge, centre, divisor;
};
const Weights kSharpen[9] = {{0, -20, 180, 100},    {0, -40, 260, 100},    {0, -60, 340, 100},
                             {0, -80, 420, 100},    {0, -1, 5, 1},         {-30, -100, 620, 100},
                             {-50, -100, 700, 100}, {-70, -100, 780, 100}, {-1, -1, 9, 1}};
const Weights kSoften[2] = {{0, 1, 2, 6}, {1, 2, 4, 16}};

DibImage Reference(const DibImage& source, const Weights& k) {
  DibImage out = source;
  const int w[3][3] = {
      {k.corner, k.edge, k.corner}, {k.edge, k.centre, k.edge}, {k.corner, k.edge, k.corner}};
  for (int y = 1; y < source.Height() - 1; ++y) {
    for (int x = 1; x < source.Width() - 1; ++x) {
      for (int c = 0; c < 3; ++c) {
        int s = 0;
        for (int dy = -1; dy <= 1; ++dy) {
          for (int dx = -1; dx <= 1; ++dx) {
            s += w[dy + 1][dx + 1] * source.Row(y + dy)[(x + dx) * 3 + c];
          }
        }
        out.Row(y)[x * 3 + c] = static_cast<uint8_t>(std::clamp(s / k.divisor, 0, 255));
      }
    }
  }
  return out;
}

// Random bytes, a quarter of them 0 and a quarter 255 so that clamping and
// negative sums are frequent. The padding is random too: the filters must
// leave it alone, which the whole-block comparison checks.
DibImage RandomImage(int width, int height, std::mt19937& rng) {
  DibImage image;
  EXPECT_TRUE(image.Create(width, height, 24));
  for (int y = 0; y < height; ++y) {
    for (int i = 0; i < image.RowBytes(); ++i) {
      const uint32_t r = rng();
      image.Row(y)[i] = (r & 3) == 0 ? 0 : (r & 3) == 1 ? 255 : static_cast<uint8_t>(r >> 8);
    }
  }
  return image;
}

// A width x height image of grey `around` with the middle pixel grey `middle`.
DibImage Spot(int width, int height, uint8_t around, uint8_t middle) {
  DibImage image = test::MakeFilled(width, height, test::Grey(around));
  SetPixel(image, width / 2, height / 2, test::Grey(middle));
  return image;
}

bool Filter(DibImage& image, int op) {  // 0-8: sharpen 1-9, 9-10: soften 1-2
  return op < 9 ? image.Sharpen(op + 1) : image.Soften(op - 8);
}

// Runs once per row loop available here.
class Filter3x3Loops : public ::testing::TestWithParam<FilterLoops> {
 protected:
  void SetUp() override {
    if (GetParam() > FastestFilterLoops()) GTEST_SKIP() << "loop not available here";
    m_previous = LimitFilterLoops(GetParam());
  }
  void TearDown() override { LimitFilterLoops(m_previous); }

 private:
  FilterLoops m_previous = FilterLoops::kAvx512;
};

TEST_P(Filter3x3Loops, MatchBytewiseReference) {
  std::mt19937 rng(20240611);
  // Widths around the 32- and 64-byte blocks of the row loops (3 w - 6
  // interior bytes a row), and the smallest images with an interior.
  const int sizes[][2] = {{3, 3},  {4, 3},  {3, 4},  {5, 7},  {11, 5}, {12, 4}, {13, 3},
                          {23, 4}, {24, 3}, {25, 5}, {45, 3}, {46, 4}, {67, 6}, {131, 5}};
  for (const auto& size : sizes) {
    const DibImage source = RandomImage(size[0], size[1], rng);
    for (int op = 0; op < 11; ++op) {
      DibImage image = source;
      ASSERT_TRUE(Filter(image, op));
      const DibImage expected = Reference(source, op < 9 ? kSharpen[op] : kSoften[op - 9]);
      EXPECT_TRUE(image.PackedDib() == expected.PackedDib())
          << "operation " << op << " on " << size[0] << " x " << size[1];
    }
  }
}

std::string LoopName(const ::testing::TestParamInfo<FilterLoops>& info) {
  const char* const names[] = {"Portable", "Avx2", "Avx512"};
  return names[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(All, Filter3x3Loops,
                         ::testing::Values(FilterLoops::kPortable, FilterLoops::kAvx2,
                                           FilterLoops::kAvx512),
                         LoopName);

TEST(Filter3x3, HandWorkedPixels) {
  for (int op = 0; op < 11; ++op) {  // a flat area stays flat
    DibImage image = Spot(40, 4, 200, 200);
    ASSERT_TRUE(Filter(image, op));
    EXPECT_TRUE(image.PackedDib() == Spot(40, 4, 200, 200).PackedDib()) << "operation " << op;
  }
  // Level 1: (180 x 100 - 20 x 4 x 50) / 100; the corners do not count.
  DibImage image = Spot(3, 3, 50, 100);
  ASSERT_TRUE(image.Sharpen(1));
  EXPECT_EQ(PixelAt(image, 1, 1), (Bgr{140, 140, 140}));
  // Level 9 clamps both ways: 9 x 10 - 8 x 200 < 0, 9 x 250 - 8 x 100 > 255.
  image = Spot(3, 3, 200, 10);
  ASSERT_TRUE(image.Sharpen(9));
  EXPECT_EQ(PixelAt(image, 1, 1), (Bgr{0, 0, 0}));
  image = Spot(3, 3, 100, 250);
  ASSERT_TRUE(image.Sharpen(9));
  EXPECT_EQ(PixelAt(image, 1, 1), (Bgr{255, 255, 255}));
  // Normal soften of one bright pixel: 510 / 6 = 85, 255 / 6 = 42, corners 0.
  image = Spot(5, 5, 0, 255);
  ASSERT_TRUE(image.Soften(1));
  const uint8_t expected[3][3] = {{0, 42, 0}, {42, 85, 42}, {0, 42, 0}};
  for (int y = 1; y <= 3; ++y) {
    for (int x = 1; x <= 3; ++x) EXPECT_EQ(PixelAt(image, x, y).g, expected[y - 1][x - 1]);
  }
}

TEST(Filter3x3, LeavesImageAloneWhenNarrowOrRefused) {
  std::mt19937 rng(7);
  for (const auto& [width, height] : {std::pair{2, 6}, {6, 2}, {2, 2}, {1, 1}, {1, 9}}) {
    DibImage image = RandomImage(width, height, rng);
    const std::vector<uint8_t> before = image.PackedDib();
    EXPECT_TRUE(image.Sharpen(9));
    EXPECT_TRUE(image.Soften(2));
    EXPECT_TRUE(image.PackedDib() == before);
  }

  DibImage image = RandomImage(9, 9, rng);
  const std::vector<uint8_t> before = image.PackedDib();
  for (int level : {0, 10, -1}) EXPECT_FALSE(image.Sharpen(level)) << level;
  for (int strength : {0, 3, -1}) EXPECT_FALSE(image.Soften(strength)) << strength;
  EXPECT_TRUE(image.PackedDib() == before);

  DibImage empty;
  EXPECT_FALSE(empty.Sharpen(3));
  EXPECT_FALSE(empty.Soften(1));
  DibImage indexed;  // 8 bits per pixel
  ASSERT_TRUE(indexed.Attach(test::MakeDib(4, 4, 8, std::vector<RgbQuad>(256),
                                           std::vector<std::vector<uint8_t>>(4, {1, 2, 3, 4}))));
  const std::vector<uint8_t> block = indexed.PackedDib();
  EXPECT_FALSE(indexed.Sharpen(3));
  EXPECT_FALSE(indexed.Soften(2));
  EXPECT_TRUE(indexed.PackedDib() == block);
}

}  // namespace
}  // namespace inkbrite
