// SPDX-License-Identifier: GPL-2.0-or-later
// Deskew: the skew of turned pages is found and undone; straight, blank,
// flat and structureless pages are left alone.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "core/deskew.h"
#include "tests/core/scan_pages.h"

namespace inkbrite {
namespace {

using test::Bgr;

constexpr Bgr kPaper{245, 248, 250};

DibImage StraightPage(std::mt19937& rng, int32_t w = 900, int32_t h = 1260) {
  const int32_t mx = w / 12;
  const int32_t my = h / 14;
  return test::ComicPage(w, h, {mx, my, w - mx, h - my}, rng, kPaper);
}

TEST(Deskew, FindsKnownAnglesAndStraightensThePage) {
  std::mt19937 rng(7);
  const DibImage straight = StraightPage(rng);
  // The interior, away from the corners that turning brings in or loses.
  const DibRect interior{120, 120, straight.Width() - 120, straight.Height() - 120};
  for (const double degrees : {-4.6, -2.25, -0.8, 0.35, 1.7, 3.9}) {
    SCOPED_TRACE(degrees);
    DibImage page = test::TurnedCopy(straight, degrees, kPaper);
    EXPECT_GT(test::DifferingShare(page, straight, interior, 64), 0.02);  // it was skewed
    const SkewFound found = Deskew(page, {});
    ASSERT_TRUE(found.applied);
    EXPECT_NEAR(found.angle, degrees, 0.1);
    EXPECT_EQ(page.Width(), straight.Width());
    EXPECT_EQ(page.Height(), straight.Height());
    // Straightened: the lines are back where they were drawn.
    EXPECT_LT(test::DifferingShare(page, straight, interior, 64), 0.01);
  }
}

TEST(Deskew, LeavesAlonePagesItWouldHarm) {
  std::mt19937 rng(11);
  const DibImage straight = StraightPage(rng, 600, 840);
  const struct {
    const char* what;
    DibImage page;
  } cases[] = {
      {"straight", straight},
      {"under the smallest angle", test::TurnedCopy(straight, 0.05, kPaper)},
      {"blank", test::MakeFilled(600, 840, kPaper)},
      {"low contrast", test::MakeImage(600, 840,
                                       [](int32_t x, int32_t y) {
                                         const auto v =
                                             static_cast<uint8_t>(120 + ((x / 9 + y / 7) % 3) * 10);
                                         return Bgr{v, v, v};
                                       })},
      {"noise", test::MakeNoise(600, 840)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    DibImage page = c.page;
    const SkewFound found = Deskew(page, {});
    EXPECT_FALSE(found.applied);
    EXPECT_EQ(found.angle, 0.0);
    EXPECT_EQ(page.PackedDib(), c.page.PackedDib());
  }
}

TEST(Deskew, SearchesOnlyWithinTheRangeAsked) {
  std::mt19937 rng(5);
  DibImage page = test::TurnedCopy(StraightPage(rng, 600, 840), 3.0, kPaper);
  const SkewFound narrow = FindSkew(page, {.maxTenths = 20});
  EXPECT_LE(std::fabs(narrow.angle), 2.0);
  EXPECT_NEAR(FindSkew(page, {.maxTenths = 50}).angle, 3.0, 0.1);
}

// Property: over many generated pages of different sizes, layouts and
// angles, the skew is found within 0.1 degree.
TEST(Deskew, PropertyFindsTheSkewOfGeneratedPages) {
  std::mt19937 rng(2024);
  for (int i = 0; i < 24; ++i) {
    const int32_t w = test::Uniform(rng, 500, 1000);
    const int32_t h = w * 7 / 5;
    const int32_t mx = test::Uniform(rng, 10, w / 8);
    const int32_t my = test::Uniform(rng, 10, h / 8);
    const Bgr paper{static_cast<uint8_t>(test::Uniform(rng, 200, 255)),
                    static_cast<uint8_t>(test::Uniform(rng, 200, 255)),
                    static_cast<uint8_t>(test::Uniform(rng, 200, 255))};
    const DibImage straight = test::ComicPage(w, h, {mx, my, w - mx, h - my}, rng, paper);
    double degrees = test::Uniform(rng, -480, 480) / 100.0;
    if (std::fabs(degrees) < 0.15) degrees = 0.15;
    SCOPED_TRACE(testing::Message()
                 << "page " << i << ": " << w << " x " << h << ", " << degrees << " degrees");
    const SkewFound found = FindSkew(test::TurnedCopy(straight, degrees, paper), {});
    EXPECT_TRUE(found.applied);
    EXPECT_NEAR(found.angle, degrees, 0.1);
  }
}

}  // namespace
}  // namespace inkbrite
