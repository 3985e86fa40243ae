// SPDX-License-Identifier: GPL-2.0-or-later
// The automatic steps on scan-like pages: tinted, washed-out, yellowed and
// dark paper, blur, noise, JPEG at several qualities, dark scanner bands on
// every edge, and turns resampled in three ways. Each step's answer is known
// because the page was drawn: the skew, the content box, the paper.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

#include "core/auto_levels.h"
#include "core/auto_steps.h"
#include "core/deskew.h"
#include "core/margin_crop.h"
#include "core/scan_analysis.h"
#include "tests/core/scan_pages.h"

namespace inkbrite {
namespace {

using test::Bgr;
using test::ScanLook;
using test::Turn;
using test::Uniform;

// The paper kinds of real scans, with their ink.
struct PaperKind {
  const char* name;
  Bgr paper;
  Bgr ink;
};
constexpr PaperKind kKinds[] = {
    {"clean", {246, 248, 250}, {20, 20, 20}},      {"tinted", {226, 238, 244}, {30, 32, 36}},
    {"washed out", {205, 205, 205}, {95, 95, 95}}, {"yellowed", {196, 230, 242}, {40, 44, 50}},
    {"dark", {168, 176, 182}, {18, 20, 22}},
};
constexpr int kJpegQualities[] = {0, 95, 80, 60};

// A random scan history for page `i`: its paper, optics, noise and JPEG.
ScanLook RandomLook(std::mt19937& rng, int i) {
  ScanLook look;
  const PaperKind& kind = kKinds[static_cast<size_t>(i) % std::size(kKinds)];
  look.paper = kind.paper;
  look.ink = kind.ink;
  look.blur = Uniform(rng, 0, 1);
  look.noise = Uniform(rng, 0, 6);
  look.jpegQuality = kJpegQualities[static_cast<size_t>(Uniform(rng, 0, 3))];
  return look;
}

std::string Describe(const ScanLook& look, int i) {
  return "page " + std::to_string(i) + ": " +
         kKinds[static_cast<size_t>(i) % std::size(kKinds)].name + ", " +
         std::to_string(look.degrees) + " degrees, turn " +
         std::to_string(static_cast<int>(look.turn)) + ", blur " + std::to_string(look.blur) +
         ", noise " + std::to_string(look.noise) + ", jpeg " + std::to_string(look.jpegQuality) +
         ", bands " + std::to_string(look.bands[0]) + "/" + std::to_string(look.bands[1]) + "/" +
         std::to_string(look.bands[2]) + "/" + std::to_string(look.bands[3]);
}

// Bands on one or two random edges (none for a third of the pages), each
// narrower than `most`.
void RandomBands(std::mt19937& rng, ScanLook& look, int32_t most) {
  const int edges = Uniform(rng, 0, 2);
  for (int e = 0; e < edges; ++e) look.bands[Uniform(rng, 0, 3)] = Uniform(rng, 12, most);
}

TEST(ScanSteps, BandsAreFoundOnEveryEdgeAndNowhereElse) {
  std::mt19937 rng(29);
  for (int i = 0; i < 20; ++i) {
    ScanLook look = RandomLook(rng, i);
    RandomBands(rng, look, 60);
    if (i % 4 == 3) look.degrees = Uniform(rng, 10, 40) / 10.0, look.corners = {0, 0, 0};
    SCOPED_TRACE(Describe(look, i));
    const DibImage page = test::ScanLikePage(600, 840, {70, 70, 530, 770}, look, rng);
    const ScanBands bands = FindScanBands(page);
    const int32_t found[4] = {bands.left, bands.top, bands.right, bands.bottom};
    for (int e = 0; e < 4; ++e) {
      if (look.bands[e] == 0) {
        EXPECT_EQ(found[e], 0) << "edge " << e;  // the turned page's dark corners are no band
      } else {
        EXPECT_GE(found[e], look.bands[e]) << "edge " << e;
        EXPECT_LE(found[e], look.bands[e] + 2 * look.blur + 6) << "edge " << e;
      }
    }
  }
}

// Property: the skew of turned scan-like pages is found within 0.1 degree,
// whatever the paper, bands, corners and resampling; the same pages lying
// straight are left alone.
TEST(ScanSteps, PropertyDeskewFindsTheSkewOfScans) {
  std::mt19937 rng(1729);
  const Turn turns[] = {Turn::kSupersampled, Turn::kBilinear, Turn::kBicubic};
  const Bgr corners[] = {{255, 255, 255}, {0, 0, 0}};
  for (int i = 0; i < 24; ++i) {
    ScanLook look = RandomLook(rng, i);
    RandomBands(rng, look, 50);
    look.turn = turns[i % 3];
    look.corners = i % 5 == 4 ? look.paper : corners[(i / 3) % 2];
    double degrees = Uniform(rng, -480, 480) / 100.0;
    if (std::fabs(degrees) < 0.3) degrees = degrees < 0 ? -0.3 : 0.3;
    look.degrees = degrees;
    SCOPED_TRACE(Describe(look, i));
    const int32_t w = Uniform(rng, 600, 820);
    const int32_t h = w * 3 / 2;
    const DibRect box{w / 10, h / 12, w - w / 10, h - h / 12};
    std::mt19937 same(static_cast<uint32_t>(i));
    const DibImage page = test::ScanLikePage(w, h, box, look, same);
    const SkewFound found = FindSkew(page, {});
    EXPECT_TRUE(found.applied);
    EXPECT_NEAR(found.angle, degrees, 0.1);
    EXPECT_GE(found.sure, kMinSkewSure);

    look.degrees = 0.0;
    std::mt19937 again(static_cast<uint32_t>(i));
    const DibImage straight = test::ScanLikePage(w, h, box, look, again);
    DibImage kept = straight;
    EXPECT_FALSE(Deskew(kept, {}).applied);
    EXPECT_EQ(kept.PackedDib(), straight.PackedDib());
  }
}

// Property: the crop keeps the content with its border, cuts the scanner's
// bands and the paper beyond it, or, filling, keeps the size and paints the
// bands paper.
TEST(ScanSteps, PropertyMarginCropCutsBandsAndPaper) {
  std::mt19937 rng(4242);
  for (int i = 0; i < 20; ++i) {
    ScanLook look = RandomLook(rng, i);
    RandomBands(rng, look, 40);
    SCOPED_TRACE(Describe(look, i));
    const int32_t w = 700;
    const int32_t h = 1000;
    const DibRect box{Uniform(rng, 60, 120), Uniform(rng, 60, 120), w - Uniform(rng, 60, 120),
                      h - Uniform(rng, 60, 120)};
    const DibImage page = test::ScanLikePage(w, h, box, look, rng);
    const CropFound found = FindMarginCrop(page, {});
    ASSERT_TRUE(found.applied);
    const int slack = 2 * look.blur + 3;
    EXPECT_NEAR(found.box.left, box.left - 8, slack);
    EXPECT_NEAR(found.box.top, box.top - 8, slack);
    EXPECT_NEAR(found.box.right, box.right + 8, slack);
    EXPECT_NEAR(found.box.bottom, box.bottom + 8, slack);

    DibImage filled = page;
    ASSERT_TRUE(FillMargins(filled, found));
    EXPECT_EQ(filled.Width(), w);
    for (const int32_t x : {0, w - 1}) {  // no band left at any edge
      const Bgr edge = test::MedianColour(filled, {x, 0, x + 1, h});
      EXPECT_GE(edge.g, look.paper.g - 12) << x;
    }
    const Bgr top = test::MedianColour(filled, {0, 0, w, 1});
    EXPECT_GE(top.g, look.paper.g - 12);
  }
}

// Property: with the tint removed, the paper of every kind of scan comes out
// white and neutral, and the ink dark; a page already clean is left alone.
TEST(ScanSteps, PropertyAutoLevelsWhitensThePaper) {
  std::mt19937 rng(99);
  for (int i = 0; i < 20; ++i) {
    ScanLook look = RandomLook(rng, i);
    RandomBands(rng, look, 40);
    SCOPED_TRACE(Describe(look, i));
    const DibRect box{80, 80, 620, 920};
    const DibImage scan = test::ScanLikePage(700, 1000, box, look, rng);
    DibImage page = scan;
    const LevelsFound found = AutoLevels(page, {.neutralise = true});
    if (!found.applied) {  // only a clean scan may be full range already
      EXPECT_EQ(i % std::size(kKinds), 0u);
      continue;
    }
    // The paper between the bands and the content.
    const Bgr paper = test::MedianColour(page, {50, 50, 650, 72});
    SCOPED_TRACE(testing::Message() << "paper " << int(paper.r) << "," << int(paper.g) << ","
                                    << int(paper.b) << ", white points " << found.white[2] << ","
                                    << found.white[1] << "," << found.white[0]);
    EXPECT_GE(std::min({paper.b, paper.g, paper.r}), 250);
    EXPECT_LE(std::max({paper.b, paper.g, paper.r}) - std::min({paper.b, paper.g, paper.r}), 3);
    if (look.blur == 0) {  // the panels' outer frame, three pixels of ink
      const Bgr ink =
          test::MedianColour(page, {box.left + 20, box.top, box.right - 20, box.top + 3});
      EXPECT_LE(std::max({ink.b, ink.g, ink.r}), 48);
    }
  }
}

// The steps together, as a device set runs them: a tinted, turned scan with
// a band along its left and bottom edges comes out level, without the band
// and with white paper.
TEST(ScanSteps, ATurnedBandedTintedScanComesOutLevelCroppedAndWhite) {
  for (const double degrees : {2.0, -3.0, 4.0, -1.5}) {
    SCOPED_TRACE(degrees);
    std::mt19937 rng(static_cast<uint32_t>(degrees * 10 + 50));
    ScanLook look;
    look.paper = {214, 232, 240};
    look.ink = {36, 38, 44};
    look.degrees = degrees;
    look.corners = look.paper;
    look.noise = 3;
    look.jpegQuality = 85;
    look.bands[0] = 45;
    look.bands[3] = 30;
    DibImage page = test::ScanLikePage(800, 1150, {110, 110, 690, 1040}, look, rng);
    CParaBlock params;
    params.SetValue(kDeskew, 1);
    params.SetValue(kAutoCrop, 1);
    params.SetValue(kAutoLevels, 1);
    params.SetValue(kAutoLevelsNeutral, 1);
    DibImage second;
    PageFindings found[2];
    ASSERT_EQ(PrepareSourcePages(params, page, second, found).pages, 1);
    EXPECT_TRUE(found[0].skew.applied);
    EXPECT_NEAR(found[0].skew.angle, degrees, 0.1);
    ASSERT_TRUE(found[0].crop.applied);
    // Deskew turned the page inside the bands, which stayed straight for the crop.
    EXPECT_GE(found[0].crop.bands.left, 45);
    EXPECT_GE(found[0].crop.bands.bottom, 30);
    EXPECT_GE(found[0].crop.box.left, 45);
    EXPECT_LE(found[0].crop.box.bottom, 1150 - 30);
    const LevelsFound levels = AutoLevels(page, ReadAutoLevelsSettings(params));
    ASSERT_TRUE(levels.applied);
    const int32_t w = page.Width();
    const int32_t h = page.Height();
    for (const DibRect& edge : {DibRect{0, 0, 1, h}, DibRect{0, h - 1, w, h}}) {
      const Bgr paper = test::MedianColour(page, edge);  // the band is gone, the paper white
      EXPECT_GE(std::min({paper.b, paper.g, paper.r}), 250);
      EXPECT_LE(std::max({paper.b, paper.g, paper.r}) - std::min({paper.b, paper.g, paper.r}), 3);
    }
  }
}

}  // namespace
}  // namespace inkbrite
