// SPDX-License-Identifier: GPL-2.0-or-later
#include "core/page_histogram.h"

#include <gtest/gtest.h>

#include <numeric>

#include "tests/test_support.h"

namespace inkbrite {
namespace {

uint64_t Sum(const std::array<uint32_t, 256>& bins) {
  return std::accumulate(bins.begin(), bins.end(), uint64_t{0});
}

// Every pixel lands in its level of each channel and of grey; black and
// white count only pixels clipped in every channel; a colour pixel makes the
// page a colour page.
TEST(PageHistogramTest, CountsLevelsAndClippedPixels) {
  // 10 x 4: row 0 black, row 1 white, row 2 pure red, row 3 grey 100.
  const DibImage page = test::MakeImage(10, 4, [](int32_t, int32_t y) {
    switch (y) {
      case 0: return test::Bgr{0, 0, 0};
      case 1: return test::Bgr{255, 255, 255};
      case 2: return test::Bgr{0, 0, 255};
      default: return test::Bgr{100, 100, 100};
    }
  });
  const PageHistogram h = ComputeHistogram(page);
  EXPECT_EQ(h.pixels, 40u);
  EXPECT_EQ(h.black, 10u);
  EXPECT_EQ(h.white, 10u);
  EXPECT_DOUBLE_EQ(h.BlackShare(), 0.25);
  EXPECT_DOUBLE_EQ(h.WhiteShare(), 0.25);
  EXPECT_FALSE(h.isGrey);
  EXPECT_EQ(h.channel[0][255], 20u);  // red: the white and the red rows
  EXPECT_EQ(h.channel[0][0], 10u);
  EXPECT_EQ(h.channel[1][0], 20u);  // green: the black and the red rows
  EXPECT_EQ(h.channel[2][100], 10u);
  EXPECT_EQ(h.grey[0], 10u);
  EXPECT_EQ(h.grey[255], 10u);
  EXPECT_EQ(h.grey[76], 10u);  // pure red weighs 0.299
  EXPECT_EQ(h.grey[100], 10u);
  for (const auto& bins : h.channel) EXPECT_EQ(Sum(bins), 40u);
  EXPECT_EQ(Sum(h.grey), 40u);
}

// A large page is sampled on a grid: the counts add up to the pixels
// counted, and shares stay those of the page.
TEST(PageHistogramTest, SamplesALargePageEvenly) {
  // Left half black, right half white.
  const DibImage page = test::MakeImage(1000, 800, [](int32_t x, int32_t) {
    return x < 500 ? test::Bgr{0, 0, 0} : test::Bgr{255, 255, 255};
  });
  const PageHistogram all = ComputeHistogram(page, 0);
  EXPECT_EQ(all.pixels, 800'000u);
  const PageHistogram sampled = ComputeHistogram(page, 100'000);
  EXPECT_LE(sampled.pixels, 100'000u);
  EXPECT_GE(sampled.pixels, 50'000u);
  EXPECT_EQ(Sum(sampled.grey), sampled.pixels);
  EXPECT_NEAR(sampled.BlackShare(), 0.5, 0.01);
  EXPECT_NEAR(sampled.WhiteShare(), 0.5, 0.01);
  EXPECT_TRUE(sampled.isGrey);
  // A page that is not 24 bits, or none, gives nothing.
  EXPECT_TRUE(ComputeHistogram(DibImage()).Empty());
  EXPECT_DOUBLE_EQ(ComputeHistogram(DibImage()).BlackShare(), 0.0);
}

}  // namespace
}  // namespace inkbrite
