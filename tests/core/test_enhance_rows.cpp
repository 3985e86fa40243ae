// SPDX-License-Identifier: GPL-2.0-or-later
// The pipeline row by row against EnhanceImage on the whole page.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "core/enhance.h"
#include "core/enhance_rows.h"
#include "core/filter3x3.h"
#include "core/tone.h"
#include "tests/test_support.h"

namespace inkbrite {
namespace {

// The grey levels of a grey page's rows through a RowEnhancer of grey rows,
// widened back to blue-green-red.
DibImage ByGreyRows(const CParaBlock& params, const DibImage& page) {
  DibImage out;
  EXPECT_TRUE(out.Create(page.Width(), page.Height(), 24));
  const auto width = static_cast<size_t>(page.Width());
  int32_t next = 0;
  RowEnhancer rows(
      params, page.Width(), page.Height(),
      [&](const uint8_t* levels) {
        ASSERT_LT(next, page.Height()) << "a row too many";
        uint8_t* row = out.Row(next++);
        for (size_t x = 0; x < width; ++x) row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = levels[x];
      },
      RowPixels::kGrey);
  std::vector<uint8_t> levels(width);
  for (int32_t y = 0; y < page.Height(); ++y) {
    for (size_t x = 0; x < width; ++x) levels[x] = page.Row(y)[3 * x];
    rows.Push(levels.data());
    std::memset(levels.data(), 0xEE, width);
  }
  rows.Finish();
  EXPECT_EQ(next, page.Height());
  return out;
}

// The page through a RowEnhancer, a row at a time from the top, from a copy
// of each row (the enhancer may change what it is given).
DibImage ByRows(const CParaBlock& params, const DibImage& page) {
  DibImage out;
  EXPECT_TRUE(out.Create(page.Width(), page.Height(), 24));
  const size_t count = static_cast<size_t>(page.Width()) * 3;
  int32_t next = 0;
  RowEnhancer rows(params, page.Width(), page.Height(), [&](const uint8_t* row) {
    EXPECT_LT(next, page.Height()) << "a row too many";
    if (next < page.Height()) std::memcpy(out.Row(next++), row, count);
  });
  std::vector<uint8_t> source(count);
  for (int32_t y = 0; y < page.Height(); ++y) {
    std::memcpy(source.data(), page.Row(y), count);
    rows.Push(source.data());
    std::memset(source.data(), 0xEE, count);  // what the decoder does to its band
    EXPECT_GE(next, y + 1 - rows.Delay()) << "rows held back longer than the filters need";
  }
  rows.Finish();
  EXPECT_EQ(next, page.Height());
  return out;
}

// The pixels of two pages (their padding aside) are equal.
void ExpectSamePixels(const DibImage& a, const DibImage& b) {
  ASSERT_EQ(a.Width(), b.Width());
  ASSERT_EQ(a.Height(), b.Height());
  for (int32_t y = 0; y < a.Height(); ++y) {
    ASSERT_EQ(0, std::memcmp(a.Row(y), b.Row(y), static_cast<size_t>(a.Width()) * 3))
        << "row " << y;
  }
}

void SetRandomBlock(std::mt19937& rng, CParaBlock& params) {
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  params.ResetDefaults();
  params.SetValue(kSharpen, pick(0, 3) == 0 ? 0 : pick(-1, 10));
  params.SetValue(kBlur, pick(-1, 3));
  if (pick(0, 1) == 1) {
    params.SetValue(kCurveY1, pick(-60, 300));
    params.SetValue(kCurveY2, pick(-60, 300));
  }
  params.SetValue(kBrightness, pick(0, 1) == 1 ? 100 : pick(40, 200));
  params.SetValue(kHighlight, pick(0, 1) == 1 ? 100 : pick(100, 200));
  params.SetValue(kThreshold, pick(150, 255));
  params.SetValue(kContrast, pick(0, 1) == 1 ? 100 : pick(50, 200));
  params.SetValue(kGamma, pick(0, 1) == 1 ? 100 : pick(50, 200));
}

// Every combination of sharpen, tone and soften, on pages of every small
// size (the filters leave a page under 3 x 3 alone) and larger ones, with the
// vector and the portable filter loops.
TEST(RowEnhancer, GivesTheRowsOfTheWholePagePipeline) {
  std::mt19937 rng(7);
  EnhanceHooks batch;
  batch.mode = EnhanceMode::kBatch;
  CParaBlock params;
  for (FilterLoops loops : {FastestFilterLoops(), FilterLoops::kPortable}) {
    const FilterLoops previous = LimitFilterLoops(loops);
    for (int round = 0; round < 160; ++round) {
      SetRandomBlock(rng, params);
      ASSERT_TRUE(EnhancesRowByRow(params));
      const int32_t width =
          round < 16 ? 1 + round % 4 : std::uniform_int_distribution<int>(1, 90)(rng);
      const int32_t height =
          round < 16 ? 1 + round / 4 : std::uniform_int_distribution<int>(1, 12)(rng);
      const DibImage page = test::MakeNoise(width, height, static_cast<uint32_t>(round));
      SCOPED_TRACE(testing::Message()
                   << "round " << round << ", " << width << " x " << height << ", sharpen "
                   << params.GetValue(kSharpen) << ", soften " << params.GetValue(kBlur));
      DibImage whole = page;
      ASSERT_EQ(EnhanceImage(params, whole, batch), 0);
      ExpectSamePixels(ByRows(params, page), whole);
    }
    LimitFilterLoops(previous);
  }
}

// A grey page's levels, one byte a pixel, give what its blue-green-red rows
// give, for the same blocks, sizes and loops (the tone pass's vector and
// portable loops too), on grey noise and on a page of every level.
TEST(RowEnhancer, GreyRowsGiveTheBytesOfTheColourRows) {
  std::mt19937 rng(11);
  CParaBlock params;
  for (const bool vector : {true, false}) {
    const bool previousTone = SetToneVectorKernels(vector);
    const FilterLoops previous =
        LimitFilterLoops(vector ? FastestFilterLoops() : FilterLoops::kPortable);
    for (int round = 0; round < 160; ++round) {
      SetRandomBlock(rng, params);
      const int32_t width =
          round < 16 ? 1 + round % 4 : std::uniform_int_distribution<int>(1, 140)(rng);
      const int32_t height =
          round < 16 ? 1 + round / 4 : std::uniform_int_distribution<int>(1, 12)(rng);
      DibImage page = test::MakeNoise(width, height, static_cast<uint32_t>(round));
      page.Greyscale();
      if (round % 5 == 0) {  // every level, dark to light
        for (int32_t y = 0; y < height; ++y) {
          for (int32_t x = 0; x < width; ++x) {
            std::memset(page.Row(y) + 3 * x, (x * 7 + y * 131) % 256, 3);
          }
        }
      }
      SCOPED_TRACE(testing::Message()
                   << "round " << round << ", " << width << " x " << height << ", sharpen "
                   << params.GetValue(kSharpen) << ", soften " << params.GetValue(kBlur));
      ExpectSamePixels(ByGreyRows(params, page), ByRows(params, page));
    }
    LimitFilterLoops(previous);
    SetToneVectorKernels(previousTone);
  }
}

TEST(RowEnhancer, OnlyBlocksWithoutWholePageStepsGoRowByRow) {
  CParaBlock params;
  EXPECT_TRUE(EnhancesRowByRow(params));
  for (const auto& [slot, value] : {std::pair{kResize, 50},
                                    {kResize, 150},
                                    {kCroppingLeft, 1},
                                    {kCroppingTop, 1},
                                    {kCroppingRight, 1},
                                    {kCroppingBottom, 1},
                                    {kAutoLevels, 1},
                                    {kAutoCrop, 1},
                                    {kSplitSpreads, 1},
                                    {kDeskew, 1}}) {
    CParaBlock changed;
    changed.SetValue(slot, value);
    EXPECT_FALSE(EnhancesRowByRow(changed)) << "slot " << slot << " = " << value;
  }
}

}  // namespace
}  // namespace inkbrite
