// SPDX-License-Identifier: GPL-2.0-or-later
// The automatic steps in the pipeline: nothing happens while they are off;
// on, the source stage deskews, splits and crops in that order and auto
// levels runs inside EnhanceImage; findings are reported.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "core/auto_steps.h"
#include "core/enhance.h"
#include "tests/core/scan_pages.h"

namespace inkbrite {
namespace {

using test::Bgr;

constexpr Bgr kPaper{228, 228, 228};

// A washed-out spread (ink 40, paper 228) with a gutter at 760 to 840,
// turned by 1.5 degrees.
DibImage SkewedSpread() {
  std::mt19937 rng(8);
  DibImage left = test::ComicPage(1600, 1100, {80, 90, 760, 1010}, rng, kPaper, {40, 40, 40});
  const DibImage right =
      test::ComicPage(1600, 1100, {840, 90, 1520, 1010}, rng, kPaper, {40, 40, 40});
  for (int32_t y = 0; y < 1100; ++y) {
    std::memcpy(left.Row(y) + 840 * 3, right.Row(y) + 840 * 3, 760 * 3);
  }
  return test::TurnedCopy(left, 1.5, kPaper);
}

void AllOn(CParaBlock& params) {
  for (const int slot : {kDeskew, kSplitSpreads, kAutoCrop, kAutoLevels}) params.SetValue(slot, 1);
}

TEST(AutoSteps, OffByDefaultTheyTouchNothing) {
  CParaBlock params;
  DibImage page = test::MakeNoise(300, 200);
  const DibImage before = page;
  DibImage second = test::MakePattern(5, 5);
  PageFindings findings[2];
  findings[0].part = 7;
  std::vector<std::string> stages;
  const SourceStage stage = PrepareSourcePages(
      params, page, second, findings, [&](std::string_view s) { stages.emplace_back(s); },
      [] { return 9; });
  EXPECT_EQ(stage.pages, 1);
  EXPECT_EQ(stage.stopped, 0);  // no step ran, so nothing asked to stop
  EXPECT_EQ(page.PackedDib(), before.PackedDib());
  EXPECT_TRUE(second.IsEmpty());
  EXPECT_TRUE(stages.empty());
  EXPECT_EQ(findings[0].part, 0);
  EXPECT_EQ(DescribeFindings(findings[0]), "");
  EXPECT_EQ(FindingsFields(findings[0]), "skew=\tsplit=\tcrop=\tlevels=\tfit=\tsure=");
}

TEST(AutoSteps, SourceStageDeskewsSplitsAndCropsInThatOrder) {
  CParaBlock params;
  AllOn(params);
  params.SetValue(kAutoCropBorder, 0);
  DibImage page = SkewedSpread();
  DibImage second;
  PageFindings findings[2];
  std::vector<std::string> stages;
  const SourceStage stage = PrepareSourcePages(params, page, second, findings,
                                               [&](std::string_view s) { stages.emplace_back(s); });
  EXPECT_EQ(stages, (std::vector<std::string>{"纠斜", "分页", "自动切边"}));
  ASSERT_EQ(stage.pages, 2);
  EXPECT_NEAR(findings[0].skew.angle, 1.5, 0.1);
  EXPECT_TRUE(findings[0].spread.split);
  EXPECT_NEAR(findings[0].spread.column, 800, 6);  // the gutter, turned a little about the centre
  EXPECT_EQ(findings[0].part, 1);
  EXPECT_EQ(findings[1].part, 2);
  EXPECT_EQ(findings[1].skew, findings[0].skew);
  // Each page cropped to its own content: about 680 x 920 of the 1600 x 1100 scan.
  for (int i = 0; i < 2; ++i) {
    const DibImage& p = i == 0 ? page : second;
    SCOPED_TRACE(i);
    EXPECT_TRUE(findings[i].crop.applied);
    EXPECT_EQ(p.Width(), findings[i].crop.box.Width());
    EXPECT_NEAR(p.Width(), 680, 30);
    EXPECT_NEAR(p.Height(), 920, 30);
  }

  // Auto levels inside the pipeline: the washed-out tones are stretched.
  PageFindings& first = findings[0];
  EnhanceHooks hooks;
  hooks.findings = &first;
  EnhanceImage(params, page, hooks);
  EXPECT_TRUE(first.levelsRan);
  EXPECT_TRUE(first.levels.applied);
  EXPECT_NEAR(first.levels.black, 40, 3);
  EXPECT_NEAR(first.levels.white[0], 228, 3);
  const std::string text = DescribeFindings(first);
  EXPECT_NE(text.find("纠斜 1."), std::string::npos) << text;
  EXPECT_NE(text.find(" 1/2"), std::string::npos) << text;
  EXPECT_NE(text.find("色阶 "), std::string::npos) << text;
}

TEST(AutoSteps, RightToLeftOrderAndFacingPagesSharingOneBox) {
  CParaBlock params;
  params.SetValue(kSplitSpreads, 1);
  params.SetValue(kAutoCrop, 1);
  params.SetValue(kAutoCropFacing, 1);
  params.SetValue(kSplitRightToLeft, 1);
  std::mt19937 rng(3);
  // The right page's content sits lower than the left's.
  DibImage spread = test::ComicPage(1200, 800, {60, 40, 560, 700}, rng, kPaper);
  const DibImage right = test::ComicPage(1200, 800, {640, 100, 1140, 760}, rng, kPaper);
  for (int32_t y = 0; y < 800; ++y)
    std::memcpy(spread.Row(y) + 600 * 3, right.Row(y) + 600 * 3, 1800);
  DibImage page = spread;
  DibImage second;
  PageFindings findings[2];
  ASSERT_EQ(PrepareSourcePages(params, page, second, findings).pages, 2);
  // One box holding both pages' content (tops 40 and 100, bottoms 700 and
  // 760), with the border of 8 pixels.
  const DibRect box = findings[0].crop.box;
  EXPECT_EQ(findings[1].crop.box, box);
  EXPECT_NEAR(box.top, 32, 2);
  EXPECT_NEAR(box.bottom, 768, 2);
  // Right to left: the first page is the right-hand one.
  const int32_t column = findings[0].spread.column;
  DibImage expected;
  ASSERT_TRUE(
      CopyRegion(spread, {column + box.left, box.top, column + box.right, box.bottom}, expected));
  EXPECT_EQ(page.PackedDib(), expected.PackedDib());
  ASSERT_TRUE(CopyRegion(spread, {box.left, box.top, box.right, box.bottom}, expected));
  EXPECT_EQ(second.PackedDib(), expected.PackedDib());
}

TEST(AutoSteps, PagesLargerThanTheScreenAreReducedToFitIt) {
  CParaBlock params;
  params.SetValue(kFitWidth, 300);
  params.SetValue(kFitHeight, 400);
  DibImage page = test::MakePattern(900, 600);  // width limits: 300 x 200
  DibImage second;
  PageFindings findings[2];
  std::vector<std::string> stages;
  PrepareSourcePages(params, page, second, findings,
                     [&](std::string_view s) { stages.emplace_back(s); });
  EXPECT_EQ(stages, (std::vector<std::string>{"适应屏幕"}));
  EXPECT_EQ(page.Width(), 300);
  EXPECT_EQ(page.Height(), 200);
  EXPECT_TRUE(findings[0].fitRan);
  EXPECT_EQ(DescribeFindings(findings[0]), "缩至 300×200");

  // Never enlarged; one side alone does nothing.
  DibImage small = test::MakePattern(100, 80);
  const DibImage before = small;
  PrepareSourcePages(params, small, second, findings);
  EXPECT_EQ(small.PackedDib(), before.PackedDib());
  EXPECT_FALSE(findings[0].fitRan);
  params.SetValue(kFitHeight, 0);
  DibImage big = test::MakePattern(900, 600);
  PrepareSourcePages(params, big, second, findings);
  EXPECT_EQ(big.Width(), 900);
}

TEST(AutoSteps, AbortEndsTheStageAfterTheStepThatRan) {
  CParaBlock params;
  AllOn(params);
  DibImage page = SkewedSpread();
  DibImage second;
  PageFindings findings[2];
  std::vector<std::string> stages;
  const SourceStage stage = PrepareSourcePages(
      params, page, second, findings, [&](std::string_view s) { stages.emplace_back(s); },
      [] { return 5; });
  EXPECT_EQ(stage.stopped, 5);
  EXPECT_EQ(stages, (std::vector<std::string>{"纠斜"}));
  EXPECT_EQ(stage.pages, 1);
  EXPECT_TRUE(second.IsEmpty());
}

TEST(AutoSteps, SettingsAreReadClampedIntoTheirRanges) {
  CParaBlock params;
  params.SetValue(kAutoLevels, 7);  // any nonzero value turns a step on
  params.SetValue(kAutoCropBorder, 100000);
  params.SetValue(kAutoCropTolerance, -3);
  params.SetValue(kDeskewRange, 90);
  params.SetValue(kAutoLevelsClip, 1000);
  const AutoSteps steps = ReadAutoSteps(params);
  EXPECT_TRUE(steps.levels);
  EXPECT_FALSE(steps.crop);
  EXPECT_EQ(steps.cropSettings.border, 200);
  EXPECT_EQ(steps.cropSettings.tolerance, 8);
  EXPECT_EQ(steps.deskewSettings.maxTenths, 50);
  EXPECT_EQ(steps.levelsSettings.clipTenths, 50);
  EXPECT_EQ(AutoSlotRange(kBrightness), nullptr);
}

TEST(AutoSteps, AutoLevelsIsNamedInBatchModeAndCountsNoProgress) {
  CParaBlock params;
  params.SetValue(kAutoLevels, 1);
  params.SetValue(kCroppingLeft, 1);
  params.SetValue(kSharpen, 2);
  DibImage page = test::MakeImage(120, 80, [](int32_t x, int32_t y) {
    const auto v = static_cast<uint8_t>(y < 20 ? 50 : y > 60 ? 200 : 60 + x);
    return Bgr{v, v, v};
  });
  std::vector<std::string> stages;
  int progress = 0;
  EnhanceHooks hooks;
  hooks.mode = EnhanceMode::kBatch;
  hooks.status = [&](std::string_view s) { stages.emplace_back(s); };
  hooks.progress = [&] { ++progress; };
  EXPECT_EQ(EnhanceImage(params, page, hooks), 0);
  ASSERT_GE(stages.size(), 3u);
  EXPECT_EQ(stages[0], "放大");
  EXPECT_EQ(stages[1], "切边");
  EXPECT_EQ(stages[2], "自动色阶");
  EXPECT_EQ(stages[3], "锐化");
  EXPECT_EQ(progress, 9);
}

// The pipeline may join auto levels to its tone pass; the bytes must be
// those of the levels applied first and the tone steps after, with the
// highlight step's light test on, tinted paper with and without a white
// point per channel, and with sharpening between the two; the curve comes
// after the levels.
TEST(AutoSteps, AutoLevelsGivesTheBytesOfTheLevelsThenTheToneSteps) {
  std::mt19937 rng(21);
  DibImage page = test::ComicPage(300, 200, {20, 15, 280, 185}, rng, {200, 214, 222}, {52, 48, 45});
  test::AddDust(page, {20, 15, 280, 185}, 40, rng);
  for (const bool neutralise : {false, true}) {
    for (const int sharpen : {0, 3}) {
      SCOPED_TRACE(testing::Message() << "neutralise " << neutralise << " sharpen " << sharpen);
      CParaBlock params;
      params.SetValue(kBrightness, 110);
      params.SetValue(kContrast, 120);
      params.SetValue(kGamma, 90);
      params.SetValue(kHighlight, 150);
      params.SetValue(kThreshold, 200);
      params.SetValue(kCurveX1, 64);
      params.SetValue(kCurveY1, 90);
      params.SetValue(kCurveX2, 192);
      params.SetValue(kCurveY2, 180);
      params.SetValue(kSharpen, sharpen);
      params.SetValue(kAutoLevelsNeutral, neutralise ? 1 : 0);
      DibImage expected = page;
      const LevelsFound found = AutoLevels(expected, ReadAutoLevelsSettings(params));
      ASSERT_TRUE(found.applied);
      EXPECT_EQ(found.white[0] != found.white[2], neutralise);
      ASSERT_EQ(EnhanceImage(params, expected), 0);

      params.SetValue(kAutoLevels, 1);
      DibImage joined = page;
      PageFindings findings;
      EnhanceHooks hooks;
      hooks.findings = &findings;
      ASSERT_EQ(EnhanceImage(params, joined, hooks), 0);
      EXPECT_EQ(findings.levels, found);
      EXPECT_EQ(joined.PackedDib(), expected.PackedDib());
    }
  }
}

}  // namespace
}  // namespace inkbrite
