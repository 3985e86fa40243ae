// SPDX-License-Identifier: GPL-2.0-or-later
// The enhancement pipeline: order of steps, modes, hooks.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "core/enhance.h"
#include "tests/test_support.h"

namespace inkbrite {
namespace {

// A colourful page: channels vary independently, so a large page holds far
// more than 256 colours.
DibImage ColourPage(int w = 41, int h = 29) {
  return test::MakeImage(w, h, [](int x, int y) {
    return test::Bgr{static_cast<uint8_t>(x * 5 + y), static_cast<uint8_t>(y * 3 + x / 2),
                     static_cast<uint8_t>((x * y) ^ (x + 3 * y))};
  });
}

std::set<uint32_t> Colours(const DibImage& image) {
  std::set<uint32_t> colours;
  for (int y = 0; y < image.Height(); ++y) {
    const uint8_t* p = image.Row(y);
    for (int x = 0; x < image.Width(); ++x, p += 3) colours.insert(p[0] | p[1] << 8 | p[2] << 16);
  }
  return colours;
}

struct Recorder {
  std::vector<std::string> stages;
  int progress = 0;
  EnhanceHooks Hooks(bool batch) {
    EnhanceHooks hooks;
    hooks.progress = [this] { ++progress; };
    if (batch) hooks.mode = EnhanceMode::kBatch;
    hooks.status = [this](std::string_view s) { stages.emplace_back(s); };
    return hooks;
  }
};

TEST(EnhanceImage, DefaultParametersChangeNoPixel) {
  CParaBlock params;
  DibImage page = ColourPage();
  const auto before = page.PackedDib();
  EXPECT_EQ(EnhanceImage(params, page), 0);
  EXPECT_EQ(page.PackedDib(), before);
}

TEST(EnhanceImage, BatchModeNamesEveryStageAndCountsNineOrEight) {
  CParaBlock params;
  for (const auto& [slot, value] :
       {std::pair{kResize, 150}, {kCroppingLeft, 2}, {kSharpen, 3}, {kBlur, 2}}) {
    params.SetValue(slot, value);
  }
  DibImage page = ColourPage();
  Recorder rec;
  EXPECT_EQ(EnhanceImage(params, page, rec.Hooks(true)), 0);
  const std::vector<std::string> all = {"放大",       "切边",      "锐化",
                                        "曲线调节",   "调节亮度",  "调节高亮度",
                                        "调节对比度", "Gamma校正", "柔化"};
  EXPECT_EQ(rec.stages, all);
  EXPECT_EQ(rec.progress, 9);

  // Skipping the resize, and leaving out crop, sharpen and soften: their
  // progress units still count, their names are not shown.
  params.ResetDefaults();
  params.SetValue(kResize, 50);
  Recorder skip;
  EnhanceImage(params, page, skip.Hooks(true), /*skipResize=*/true);
  EXPECT_EQ(skip.progress, 8);
  EXPECT_EQ(skip.stages, (std::vector<std::string>{"曲线调节", "调节亮度", "调节高亮度",
                                                   "调节对比度", "Gamma校正"}));
  Recorder reduce;
  EnhanceImage(params, page, reduce.Hooks(true));
  EXPECT_EQ(reduce.progress, 9);
  EXPECT_EQ(reduce.stages.back(), "缩小");
}

TEST(EnhanceImage, EnlargeComesBeforeCropAndReduceAfterIt) {
  for (int resize : {50, 150}) {
    SCOPED_TRACE(resize);
    CParaBlock params;
    params.SetValue(kResize, resize);
    params.SetValue(kCroppingLeft, 10);
    DibImage page = ColourPage(60, 40);
    DibImage expected = page;
    if (resize > 100) {
      ASSERT_TRUE(expected.ResizePercent(resize));
      ASSERT_TRUE(expected.Crop(10, 0, 0, 0));
    } else {
      ASSERT_TRUE(expected.Crop(10, 0, 0, 0));
      ASSERT_TRUE(expected.ResizePercent(resize));
    }
    EnhanceImage(params, page);
    EXPECT_EQ(page.Width(), resize > 100 ? 80 : 25);
    EXPECT_EQ(page.PackedDib(), expected.PackedDib());
  }
}

// One run, one set of values: a block changed while a run is under way (as
// the parameter bar changes the viewer's block) is read at the run's start
// only, so the page is made with the set the run began with; and the resize
// steps resample with the run's own filter, whatever the application-wide
// block holds.
TEST(EnhanceImage, ARunReadsItsSettingsOnceWithItsOwnFilter) {
  struct Case {
    const char* name;
    int slot;  // changed when the first stage is named
    int value;
  };
  const Case cases[] = {{"brightness", kBrightness, 40},
                        {"sharpen", kSharpen, 0},
                        {"soften", kBlur, 2},
                        {"reduce", kResize, 60},
                        {"filter", kResizeType, 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CParaBlock params;
    params.SetValue(kResize, 150);
    params.SetValue(kResizeType, 1);  // bicubic; the application's block keeps bilinear
    params.SetValue(kSharpen, 5);
    params.SetValue(kBrightness, 130);
    DibImage expected = ColourPage(30, 20);
    DibImage page = expected;
    ASSERT_TRUE(expected.ResizePercent(150, 1));
    expected.Sharpen(5);
    TonePass(ReadToneSettings(params)).Apply(expected);

    EnhanceHooks hooks;
    hooks.mode = EnhanceMode::kBatch;
    hooks.status = [&](std::string_view) { params.SetValue(c.slot, c.value); };
    EXPECT_EQ(EnhanceImage(params, page, hooks), 0);
    EXPECT_EQ(params.GetValue(c.slot), c.value);
    EXPECT_EQ(page.PackedDib(), expected.PackedDib());
  }
  // A filter given with the snapshot wins over the block's.
  CParaBlock params;
  params.SetValue(kResize, 170);
  DibImage page = ColourPage(21, 15);
  DibImage expected = page;
  ASSERT_TRUE(expected.ResizePercent(170, 2));
  EnhanceImage(EnhanceSettings(params, 2), page);
  EXPECT_EQ(page.PackedDib(), expected.PackedDib());
}

TEST(EnhanceImage, AbortAfterTheCropStopsBeforeSharpening) {
  CParaBlock params;
  params.SetValue(kCroppingTop, 3);
  params.SetValue(kSharpen, 9);
  DibImage page = ColourPage();
  DibImage cropped = page;
  ASSERT_TRUE(cropped.Crop(0, 3, 0, 0));
  Recorder rec;
  EnhanceHooks hooks = rec.Hooks(true);
  int checks = 0;
  hooks.abortCheck = [&] { return ++checks == 2 ? 5 : 0; };  // 1: enlarge, 2: crop
  EXPECT_EQ(EnhanceImage(params, page, hooks), 5);
  EXPECT_EQ(rec.stages, (std::vector<std::string>{"放大", "切边"}));
  EXPECT_EQ(page.PackedDib(), cropped.PackedDib());
}

TEST(EnhanceImage, ColourModesActInTheViewerOnly) {
  CParaBlock params;
  params.SetValue(kGreyScale, 3);
  DibImage big = ColourPage(200, 150);
  ASSERT_GT(Colours(big).size(), 256u);
  DibImage viewer = big;
  EnhanceImage(params, viewer);
  EXPECT_EQ(viewer.BitCount(), 24);
  EXPECT_LE(Colours(viewer).size(), 256u);
  DibImage batch = big;
  Recorder rec;
  EnhanceImage(params, batch, rec.Hooks(true));
  EXPECT_EQ(batch.PackedDib(), big.PackedDib());

  // Black-and-white comic: grey in the viewer, untouched in batch mode.
  params.SetValue(kGreyScale, 1);
  DibImage grey = big;
  EnhanceImage(params, grey);
  EXPECT_TRUE(grey.IsGrey());
  DibImage greyBatch = big;
  EnhanceImage(params, greyBatch, rec.Hooks(true));
  EXPECT_FALSE(greyBatch.IsGrey());

  // Monochrome: two levels, black and white.
  params.SetValue(kGreyScale, 7);
  DibImage mono = big;
  EnhanceImage(params, mono);
  for (uint32_t c : Colours(mono)) EXPECT_TRUE(c == 0 || c == 0xFFFFFF) << std::hex << c;
}

TEST(EnhanceImage, ToneStepsRunInTheirOrder) {
  // Curve, brightness, highlight, contrast, gamma: the same operations by
  // hand in that order give the same page (the pipeline runs them as one
  // pass), every slot read from its own place.
  CParaBlock params;
  for (const auto& [slot, value] : {std::pair{kCurveX1, 195},
                                    {kCurveY1, -39},
                                    {kCurveX2, 60},
                                    {kCurveY2, 293},
                                    {kBrightness, 110},
                                    {kHighlight, 150},
                                    {kThreshold, 170},
                                    {kContrast, 120},
                                    {kGamma, 90}}) {
    params.SetValue(slot, value);
  }
  DibImage page = ColourPage();
  DibImage expected = page;
  expected.Curve(195, -39, 60, 293);
  expected.Brightness(110);
  expected.Highlight(150, 170);
  expected.Contrast(120);
  expected.Gamma(90);
  EnhanceImage(params, page);
  EXPECT_EQ(page.PackedDib(), expected.PackedDib());
}

// The batch sharpens and tones a page in one walk: the bytes of Sharpen
// then the tone pass, as the viewer's run gives them, on pages of every
// small size (the filter leaves sides of 2 pixels or less alone), random
// pages, every sharpen level and tone settings with and without highlight.
TEST(EnhanceImage, BatchSharpensAndTonesAsTheStepsOneAfterTheOther) {
  uint32_t seed = 5;
  for (const auto& [w, h] : {std::pair{1, 1}, {2, 9}, {9, 2}, {3, 3}, {4, 7}, {57, 31}}) {
    for (int level = 1; level <= 9; level += 2) {
      for (const bool highlight : {false, true}) {
        SCOPED_TRACE(testing::Message() << w << "x" << h << " level " << level << " " << highlight);
        CParaBlock params;
        params.SetValue(kSharpen, level);
        params.SetValue(kBrightness, 90 + level * 5);
        params.SetValue(kContrast, 130);
        params.SetValue(kGamma, 80);
        if (highlight) params.SetValue(kHighlight, 160);
        DibImage page = test::MakeNoise(w, h, seed++);
        DibImage viewer = page;
        DibImage steps = page;
        Recorder rec;
        EXPECT_EQ(EnhanceImage(params, page, rec.Hooks(true)), 0);
        EXPECT_EQ(EnhanceImage(params, viewer), 0);
        steps.Sharpen(level);
        TonePass(ReadToneSettings(params)).Apply(steps);
        EXPECT_EQ(page.PackedDib(), steps.PackedDib());
        EXPECT_EQ(viewer.PackedDib(), steps.PackedDib());
      }
    }
  }
}

TEST(EnhanceImage, NothingLeftOfThePageCrashesNoStep) {
  CParaBlock params;
  params.SetValue(kResize, 0);
  params.SetValue(kSharpen, 9);
  params.SetValue(kBlur, 2);
  params.SetValue(kGreyScale, 3);
  DibImage page = ColourPage();
  EXPECT_EQ(EnhanceImage(params, page), 0);
  EXPECT_FALSE(page.IsEmpty());
  params.SetValue(kResize, 100);
  params.SetValue(kCroppingLeft, 500);
  EXPECT_EQ(EnhanceImage(params, page), 0);
  EXPECT_FALSE(page.IsEmpty());
  DibImage empty;
  EXPECT_EQ(EnhanceImage(params, empty), 0);
  EXPECT_TRUE(empty.IsEmpty());
}

// A part of the page enhanced on its own is the same part of the whole
// page enhanced, for every step that works pixel by pixel or 3 x 3, in any
// place: corners, edges, single rows and columns, the whole page.
TEST(EnhancePart, GivesTheBytesOfTheWholePageForEveryLocalStep) {
  const DibImage page = test::MakeNoise(61, 47);
  struct Setting {
    const char* name;
    std::vector<std::pair<int, int>> slots;
    bool skipResize = false;
  };
  const std::vector<Setting> settings = {
      {"defaults", {}},
      {"tone",
       {{kBrightness, 115},
        {kContrast, 130},
        {kGamma, 80},
        {kHighlight, 140},
        {kThreshold, 120},
        {kCurveY1, 60},
        {kCurveY2, 200}}},
      {"grey comic", {{kGreyScale, kGreyComic}, {kContrast, 140}}},
      {"colour comic", {{kGreyScale, kColourComic}, {kGamma, 120}}},
      {"sharpen 3", {{kSharpen, 3}}},
      {"sharpen 9 and tone", {{kSharpen, 9}, {kBrightness, 90}}},
      {"soften normal", {{kBlur, 1}}},
      {"sharpen 6 and soften strong", {{kSharpen, 6}, {kBlur, 2}, {kGreyScale, kGreyComic}}},
      {"crop", {{kCroppingLeft, 5}, {kCroppingTop, 2}, {kCroppingRight, 7}, {kCroppingBottom, 1}}},
      {"crop and both filters",
       {{kCroppingLeft, 3}, {kCroppingBottom, 4}, {kSharpen, 5}, {kBlur, 1}, {kGamma, 70}}},
      {"a crop larger than the page (none)", {{kCroppingLeft, 40}, {kCroppingRight, 40}}},
      {"resize left to the caller", {{kResize, 150}, {kSharpen, 2}}, true},
  };
  for (const Setting& setting : settings) {
    SCOPED_TRACE(setting.name);
    CParaBlock params;
    for (const auto& [slot, value] : setting.slots) params.SetValue(slot, value);
    DibImage whole = page;
    EnhanceImage(params, whole, {}, setting.skipResize);
    int32_t width = 0, height = 0;
    ASSERT_TRUE(EnhancedPartSize(params, page, setting.skipResize, width, height));
    ASSERT_EQ(width, whole.Width());
    ASSERT_EQ(height, whole.Height());
    // The whole page band by band, in bands of any height.
    for (int32_t rows : {1, 5, 16, 100}) {
      DibImage bands;
      ASSERT_TRUE(EnhanceInBands(params, page, setting.skipResize, bands, {}, rows));
      ASSERT_TRUE(bands.PackedDib() == whole.PackedDib()) << rows << " rows a band";
    }
    const DibRect rects[] = {{0, 0, width, height},
                             {0, 0, 1, 1},
                             {width - 1, height - 1, width, height},
                             {0, 5, width, 6},
                             {7, 0, 8, height},
                             {1, 1, width - 1, height - 1},
                             {2, 3, 19, 17},
                             {width - 12, 4, width, 30},
                             {9, height - 2, 40, height}};
    for (const DibRect& rect : rects) {
      SCOPED_TRACE(testing::Message()
                   << rect.left << "," << rect.top << " - " << rect.right << "," << rect.bottom);
      DibImage part;
      ASSERT_TRUE(EnhancePart(params, page, rect, setting.skipResize, part));
      ASSERT_EQ(part.Width(), rect.Width());
      ASSERT_EQ(part.Height(), rect.Height());
      for (int32_t y = 0; y < rect.Height(); ++y) {
        ASSERT_EQ(0, std::memcmp(part.Row(y), whole.Row(rect.top + y) + rect.left * 3,
                                 static_cast<size_t>(rect.Width()) * 3))
            << "row " << y;
      }
    }
  }
}

// Steps that need the whole page are left to it: a resize, auto levels and
// the colour reductions (their palette). A part outside the page, or an
// empty one, is refused.
TEST(EnhancePart, LeavesWholePageStepsAndBadPartsAlone) {
  const DibImage page = test::MakeNoise(30, 20);
  const DibRect inside{2, 2, 10, 10};
  const std::pair<int, int> wholePageSteps[] = {{kResize, 150},           {kResize, 50},
                                                {kAutoLevels, 1},         {kGreyScale, kColours256},
                                                {kGreyScale, kGreys16},   {kGreyScale, kGreys4},
                                                {kGreyScale, kBlackWhite}};
  for (const auto& [slot, value] : wholePageSteps) {
    CParaBlock params;
    params.SetValue(slot, value);
    int32_t width = 0, height = 0;
    EXPECT_FALSE(EnhancedPartSize(params, page, false, width, height)) << slot << "=" << value;
    DibImage part = test::MakeNoise(3, 3);
    const DibImage before = part;
    EXPECT_FALSE(EnhancePart(params, page, inside, false, part));
    EXPECT_TRUE(part.PackedDib() == before.PackedDib());
  }
  // Stopped between bands: nothing made.
  {
    CParaBlock params;
    int asked = 0;
    EnhanceHooks hooks;
    hooks.abortCheck = [&asked] { return ++asked >= 3 ? 1 : 0; };
    DibImage enhanced;
    EXPECT_FALSE(EnhanceInBands(params, page, false, enhanced, hooks, 4));
    EXPECT_TRUE(enhanced.IsEmpty());
    EXPECT_GE(asked, 3);
  }
  CParaBlock params;
  params.SetValue(kCroppingRight, 4);  // a page of 26 x 20
  DibImage part;
  for (const DibRect& bad : {DibRect{0, 0, 27, 5}, DibRect{-1, 0, 5, 5}, DibRect{3, 3, 3, 9},
                             DibRect{0, 15, 5, 21}, DibRect{5, 5, 4, 9}}) {
    EXPECT_FALSE(EnhancePart(params, page, bad, false, part));
  }
  EXPECT_TRUE(part.IsEmpty());
  EXPECT_TRUE(EnhancePart(params, page, DibRect{0, 0, 26, 20}, false, part));
}

}  // namespace
}  // namespace inkbrite
