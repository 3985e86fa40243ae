// SPDX-License-Identifier: GPL-2.0-or-later
// Pages of grey levels (one byte a pixel): every operation that takes one
// gives, for each level, the byte it gives each channel of the 24-bit page
// of equal channels, on made pages and on the corpus's grey pictures.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "core/colour.h"
#include "core/enhance.h"
#include "core/filter3x3.h"
#include "core/tone.h"
#include "tests/test_support.h"

namespace inkbrite {
namespace {

// The page of grey levels of a grey 24-bit page (its first byte a pixel).
DibImage LevelsOf(const DibImage& wide) {
  DibImage levels;
  EXPECT_TRUE(levels.CreateGreyLevels(wide.Width(), wide.Height()));
  for (int32_t y = 0; y < wide.Height(); ++y) {
    for (int32_t x = 0; x < wide.Width(); ++x) levels.Row(y)[x] = wide.Row(y)[3 * x];
  }
  return levels;
}

// `levels` (widened) holds the pixels of `wide`.
void ExpectSameAsWide(const DibImage& levels, const DibImage& wide) {
  ASSERT_TRUE(levels.IsGreyLevels() || levels.Is24Bit());
  DibImage widened = levels;
  ASSERT_TRUE(widened.ConvertTo24Bit());
  ASSERT_EQ(widened.Width(), wide.Width());
  ASSERT_EQ(widened.Height(), wide.Height());
  EXPECT_EQ(widened.PackedDib(), wide.PackedDib());
}

DibImage GreyNoise(int32_t width, int32_t height, uint32_t seed) {
  DibImage page = test::MakeNoise(width, height, seed);
  page.Greyscale();
  return page;
}

using Operation = std::function<bool(DibImage&)>;

struct Case {
  std::string name;
  Operation op;
};

std::vector<Case> Operations() {
  std::vector<Case> cases;
  for (int filter : {0, 1, 2}) {
    const std::string f = " filter " + std::to_string(filter);
    cases.push_back({"half" + f, [=](DibImage& p) {
                       return p.ResizeTo(std::max(1, p.Width() / 2), std::max(1, p.Height() / 2),
                                         filter);
                     }});
    cases.push_back({"double width" + f, [=](DibImage& p) {
                       return p.ResizeTo(2 * p.Width(), p.Height() + 3, filter);
                     }});
    cases.push_back({"37 %" + f, [=](DibImage& p) { return p.ResizePercent(37, filter); }});
    cases.push_back({"170 %" + f, [=](DibImage& p) { return p.ResizePercent(170, filter); }});
    cases.push_back({"wider, lower" + f, [=](DibImage& p) {
                       return p.ResizeTo(p.Width() + 5, std::max(1, p.Height() - 2), filter);
                     }});
  }
  cases.push_back({"crop", [](DibImage& p) { return p.Crop(1, 2, 0, 1); }});
  for (int level = 1; level <= 9; ++level) {
    cases.push_back(
        {"sharpen " + std::to_string(level), [=](DibImage& p) { return p.Sharpen(level); }});
  }
  cases.push_back({"soften 1", [](DibImage& p) { return p.Soften(1); }});
  cases.push_back({"soften 2", [](DibImage& p) { return p.Soften(2); }});
  cases.push_back({"brightness", [](DibImage& p) { return p.Brightness(130); }});
  cases.push_back({"highlight", [](DibImage& p) { return p.Highlight(160, 120); }});
  cases.push_back({"curve", [](DibImage& p) { return p.Curve(0, -39, 0, 293); }});
  cases.push_back({"greyscale", [](DibImage& p) { return p.Greyscale(); }});
  return cases;
}

// Each operation on pages of every small size and larger ones, with the
// vector and the portable loops.
TEST(GreyLevels, EveryOperationGivesTheBytesOfTheWidePage) {
  const std::vector<Case> cases = Operations();
  for (const bool vector : {true, false}) {
    const bool previousTone = SetToneVectorKernels(vector);
    const FilterLoops previous =
        LimitFilterLoops(vector ? FastestFilterLoops() : FilterLoops::kPortable);
    for (const auto& [width, height] : std::vector<std::pair<int32_t, int32_t>>{
             {1, 1}, {2, 5}, {3, 3}, {4, 2}, {37, 23}, {130, 41}, {301, 7}}) {
      const DibImage wide = GreyNoise(width, height, static_cast<uint32_t>(width * height));
      for (const Case& c : cases) {
        SCOPED_TRACE(c.name + " on " + std::to_string(width) + " x " + std::to_string(height));
        DibImage a = wide;
        DibImage b = LevelsOf(wide);
        ASSERT_EQ(c.op(b), c.op(a));
        EXPECT_TRUE(b.IsGreyLevels());
        ExpectSameAsWide(b, a);
      }
    }
    LimitFilterLoops(previous);
    SetToneVectorKernels(previousTone);
  }
}

// A random block of every step, as the batch sets them.
void SetRandomBlock(std::mt19937& rng, CParaBlock& params) {
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  params.ResetDefaults();
  params.SetValue(kResize, pick(0, 2) == 0 ? 100 : pick(20, 250));
  if (pick(0, 3) == 0) {
    for (int slot : {kCroppingLeft, kCroppingTop, kCroppingRight, kCroppingBottom}) {
      params.SetValue(slot, pick(0, 3));
    }
  }
  params.SetValue(kSharpen, pick(0, 2) == 0 ? 0 : pick(0, 10));
  params.SetValue(kBlur, pick(0, 2));
  if (pick(0, 1) == 1) {
    params.SetValue(kCurveY1, pick(-60, 300));
    params.SetValue(kCurveY2, pick(-60, 300));
  }
  params.SetValue(kBrightness, pick(0, 1) == 1 ? 100 : pick(40, 200));
  params.SetValue(kHighlight, pick(0, 1) == 1 ? 100 : pick(100, 200));
  params.SetValue(kThreshold, pick(100, 255));
  params.SetValue(kContrast, pick(0, 1) == 1 ? 100 : pick(50, 200));
  params.SetValue(kGamma, pick(0, 1) == 1 ? 100 : pick(50, 200));
  params.SetValue(kAutoLevels, pick(0, 5) == 0 ? 1 : 0);
}

// The whole pipeline in batch mode (the sharpen and tone walk included) on
// a page of grey levels gives the bytes of the wide page; auto levels widens
// the page first, and so does the viewer's run.
void ExpectPipelineAsWide(const DibImage& wide, std::mt19937& rng, int rounds) {
  EnhanceHooks batch;
  batch.mode = EnhanceMode::kBatch;
  CParaBlock params;
  for (int round = 0; round < rounds; ++round) {
    SetRandomBlock(rng, params);
    SCOPED_TRACE(testing::Message() << "round " << round << " resize " << params.GetValue(kResize)
                                    << " sharpen " << params.GetValue(kSharpen));
    for (const bool viewer : {false, true}) {
      DibImage a = wide;
      DibImage b = LevelsOf(wide);
      ASSERT_EQ(EnhanceImage(params, a, viewer ? EnhanceHooks{} : batch), 0);
      ASSERT_EQ(EnhanceImage(params, b, viewer ? EnhanceHooks{} : batch), 0);
      EXPECT_EQ(b.IsGreyLevels(), !viewer && params.GetValue(kAutoLevels) == 0);
      ExpectSameAsWide(b, a);
    }
  }
}

TEST(GreyLevels, ThePipelineGivesTheBytesOfTheWidePage) {
  std::mt19937 rng(35);
  for (int page = 0; page < 12; ++page) {
    const int32_t width = std::uniform_int_distribution<int>(1, 160)(rng);
    const int32_t height = std::uniform_int_distribution<int>(1, 90)(rng);
    ExpectPipelineAsWide(GreyNoise(width, height, static_cast<uint32_t>(page)), rng, 12);
  }
}

// The corpus's grey pictures (the expected pictures of its grey files whose
// every pixel is grey), through random blocks.
TEST(GreyLevels, ThePipelineGivesTheBytesOfTheWidePageForTheCorpus) {
  INKBRITE_NEED_CORPUS();
  std::mt19937 rng(1700);
  int pages = 0;
  for (const test::ManifestRow& row : test::ReadManifest("")) {
    test::Ppm ppm;
    if (row.expect != "ok" || row.greySource != 1 ||
        !test::ReadPpm(test::CorpusDir() / "expected" / (row.path + ".ppm"), ppm)) {
      continue;
    }
    DibImage wide;
    ASSERT_TRUE(wide.Create(ppm.width, ppm.height, 24));
    for (int32_t y = 0; y < ppm.height; ++y) {
      for (int32_t x = 0; x < ppm.width; ++x) {
        const uint8_t* rgb = &ppm.rgb[3 * (static_cast<size_t>(y) * ppm.width + x)];
        uint8_t* bgr = wide.Row(y) + 3 * x;
        bgr[0] = rgb[2];
        bgr[1] = rgb[1];
        bgr[2] = rgb[0];
      }
    }
    if (!wide.IsGrey()) continue;
    SCOPED_TRACE(row.path);
    ExpectPipelineAsWide(wide, rng, 3);
    ++pages;
  }
  EXPECT_GT(pages, 20) << "the corpus's grey pictures";
}

// Every reduction (greyed or not) of a page of grey levels gives the palette
// picture of its wide page.
TEST(GreyLevels, ReductionsGiveThePalettePictureOfTheWidePage) {
  for (const auto& [width, height] :
       std::vector<std::pair<int32_t, int32_t>>{{1, 1}, {7, 3}, {130, 41}}) {
    const DibImage wide = GreyNoise(width, height, 77);
    const DibImage levels = LevelsOf(wide);
    for (const bool grey : {false, true}) {
      for (const auto& [bits, colours] :
           std::vector<std::pair<int, int>>{{8, 256}, {4, 16}, {4, 8}, {2, 4}, {1, 2}}) {
        SCOPED_TRACE(testing::Message() << width << " x " << height << " grey " << grey << " bits "
                                        << bits << " colours " << colours);
        CxImage a, b;
        ASSERT_TRUE(ReduceToContainer(wide, grey, bits, colours, a));
        ASSERT_TRUE(ReduceToContainer(levels, grey, bits, colours, b));
        ASSERT_EQ(a.DibSize(), b.DibSize());
        EXPECT_EQ(0, std::memcmp(a.Dib(), b.Dib(), a.DibSize()));
      }
    }
  }
}

// Only a page made as grey levels is one: an 8-bit picture under the same
// ramp, attached from a block, stays an indexed picture the operations
// refuse.
TEST(GreyLevels, OnlyAPageMadeSoIsOne) {
  DibImage levels;
  ASSERT_TRUE(levels.CreateGreyLevels(5, 4));
  EXPECT_TRUE(levels.IsGreyLevels());
  EXPECT_TRUE(levels.IsGrey());
  EXPECT_EQ(levels.BitCount(), 8);
  DibImage attached;
  ASSERT_TRUE(attached.Attach(levels.PackedDib()));
  EXPECT_FALSE(attached.IsGreyLevels());
  EXPECT_FALSE(attached.Sharpen(3));
  DibImage moved = std::move(levels);
  EXPECT_TRUE(moved.IsGreyLevels());
  EXPECT_FALSE(levels.IsGreyLevels());
  ASSERT_TRUE(moved.ConvertTo24Bit());
  EXPECT_FALSE(moved.IsGreyLevels());
  EXPECT_FALSE(levels.CreateGreyLevels(0, 4));
}

}  // namespace
}  // namespace inkbrite
