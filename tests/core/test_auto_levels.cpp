// SPDX-License-Identifier: GPL-2.0-or-later
// Auto levels: known black and white points are stretched to 0 and 255 with
// one mapping for all channels; pages it would harm are left alone.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "core/auto_levels.h"
#include "tests/core/scan_pages.h"

namespace inkbrite {
namespace {

using test::Bgr;
using test::Grey;

// A page whose darkest tenth is `black`, brightest half `white`, and the rest
// a ramp strictly between them.
DibImage PointsPage(int black, int white, int32_t w = 200, int32_t h = 150) {
  return test::MakeImage(w, h, [=](int32_t x, int32_t y) {
    if (y < h / 10) return Grey(black);
    if (y >= h / 2) return Grey(white);
    return Grey(black + 1 + (x * 7 + y) % std::max(1, white - black - 1));
  });
}

// The mapping the step promises for one channel.
int Expected(int v, int black, int white) {
  if (v <= black) return 0;
  if (v >= white) return 255;
  return static_cast<int>(std::lround((v - black) * 255.0 / (white - black)));
}

TEST(AutoLevels, MapsKnownPointsToBlackAndWhite) {
  for (const auto& [black, white] : {std::pair{40, 215}, {12, 200}, {60, 240}}) {
    SCOPED_TRACE(testing::Message() << black << " to " << white);
    DibImage page = PointsPage(black, white);
    const DibImage before = page;
    const LevelsFound found = AutoLevels(page, {});
    ASSERT_TRUE(found.applied);
    EXPECT_EQ(found.black, black);
    EXPECT_EQ(found.white, (std::array<int, 3>{white, white, white}));
    for (int32_t y = 0; y < page.Height(); y += 7) {
      for (int32_t x = 0; x < page.Width(); x += 3) {
        const int v = test::PixelAt(before, x, y).g;
        EXPECT_NEAR(test::PixelAt(page, x, y).g, Expected(v, black, white), 1) << x << "," << y;
      }
    }
    EXPECT_EQ(test::PixelAt(page, 0, 0), Grey(0));
    EXPECT_EQ(test::PixelAt(page, 0, page.Height() - 1), Grey(255));
  }
}

TEST(AutoLevels, OneMappingForAllChannelsUnlessNeutralising) {
  // Yellowed paper (blue lower than red), dark blue-black ink.
  const Bgr paper{200, 225, 235};
  const Bgr ink{50, 30, 25};
  const DibImage page = test::MakeImage(160, 120, [&](int32_t x, int32_t y) {
    if ((x / 8 + y / 6) % 5 == 0) return ink;
    if (x % 17 == 0) return Grey(128);
    return paper;
  });
  DibImage shared = page;
  const LevelsFound found = AutoLevels(shared, {});
  ASSERT_TRUE(found.applied);
  EXPECT_EQ(found.black, 25);
  EXPECT_EQ(found.white, (std::array<int, 3>{235, 235, 235}));
  // One table: equal bytes stay equal across channels, grey stays grey.
  // Pixel (0, 0) is ink, (9, 0) paper, (17, 6) grey.
  const Bgr greyOut = test::PixelAt(shared, 17, 6);
  EXPECT_EQ(greyOut.b, greyOut.g);
  EXPECT_EQ(greyOut.g, greyOut.r);
  EXPECT_EQ(test::PixelAt(shared, 9, 0).r, 255);
  EXPECT_LT(test::PixelAt(shared, 9, 0).b, 250);  // the tint stays

  DibImage neutral = page;
  const LevelsFound tint = AutoLevels(neutral, {.neutralise = true});
  ASSERT_TRUE(tint.applied);
  EXPECT_EQ(tint.white, (std::array<int, 3>{200, 225, 235}));
  EXPECT_EQ(test::PixelAt(neutral, 9, 0), Grey(255));  // paper turned white
  const Bgr inkOut = test::PixelAt(neutral, 0, 0);
  EXPECT_EQ(inkOut.r, 0);  // the black point is shared
}

TEST(AutoLevels, LeavesAlonePagesItWouldHarm) {
  std::mt19937 rng(3);
  const struct {
    const char* what;
    DibImage page;
  } cases[] = {
      {"blank with scanner noise",
       test::MakeImage(120, 90, [](int32_t x, int32_t y) { return Grey(247 + (x * y) % 5); })},
      {"one dark panel",
       test::MakeImage(120, 90, [](int32_t x, int32_t y) { return Grey(20 + (x + y) % 9); })},
      {"low contrast", PointsPage(110, 160)},
      {"already full range", PointsPage(0, 255)},
      {"nearly full range", PointsPage(9, 246)},
      {"colour noise", test::MakeNoise(120, 90)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    DibImage page = c.page;
    EXPECT_FALSE(AutoLevels(page, {}).applied);
    EXPECT_EQ(page.PackedDib(), c.page.PackedDib());
  }
  DibImage empty;
  EXPECT_FALSE(AutoLevels(empty, {}).applied);
}

TEST(AutoLevels, NoPointMovesFurtherThanTheLimit) {
  DibImage page = PointsPage(100, 170);
  const LevelsFound found = AutoLevels(page, {.maxShift = 40});
  ASSERT_TRUE(found.applied);
  EXPECT_EQ(found.black, 40);
  EXPECT_EQ(found.white[1], 215);
  EXPECT_EQ(test::PixelAt(page, 0, 0).g, Expected(100, 40, 215));
  EXPECT_EQ(test::PixelAt(page, 0, page.Height() - 1).g, Expected(170, 40, 215));

  DibImage untouched = PointsPage(100, 170);
  EXPECT_FALSE(AutoLevels(untouched, {.maxShift = 0}).applied);
}

TEST(AutoLevels, ClipShareIgnoresStrayPixels) {
  // One pixel in 400 is pure black or pure white: below the 0.5 % share.
  DibImage page = test::MakeImage(200, 200, [](int32_t x, int32_t y) {
    if ((x + 200 * y) % 400 == 0) return Grey(0);
    if ((x + 200 * y) % 400 == 1) return Grey(255);
    return y < 40 ? Grey(30) : y >= 100 ? Grey(200) : Grey(120);
  });
  EXPECT_EQ(FindAutoLevels(page, {}).black, 30);
  EXPECT_EQ(FindAutoLevels(page, {}).white[0], 200);
  EXPECT_EQ(FindAutoLevels(page, {.clipTenths = 0}).black, 0);
}

// Property: on generated pages with known points, the step applies exactly
// when the range is neither too narrow nor already wide, finds the points
// the limit allows, maps them to 0 and 255, and keeps the order of levels
// and the greyness of grey pixels.
TEST(AutoLevels, PropertyOnGeneratedPages) {
  std::mt19937 rng(99);
  for (int i = 0; i < 200; ++i) {
    const int black = test::Uniform(rng, 0, 150);
    const int white = test::Uniform(rng, black + 2, 255);
    const int limit = test::Uniform(rng, 0, 128);
    const int32_t w = test::Uniform(rng, 20, 300);
    const int32_t h = test::Uniform(rng, 20, 300);
    SCOPED_TRACE(testing::Message() << "page " << i << ": " << black << " to " << white
                                    << ", limit " << limit << ", " << w << " x " << h);
    const DibImage before = PointsPage(black, white, w, h);
    DibImage page = before;
    const LevelsFound found = AutoLevels(page, {.maxShift = limit});

    const int b = std::min(black, limit);
    const int wp = std::max(white, 255 - limit);
    const bool expectApplied =
        white - black >= kMinLevelsRange && (b > kWideLevelsEnd || wp < 255 - kWideLevelsEnd);
    ASSERT_EQ(found.applied, expectApplied);
    if (!found.applied) {
      EXPECT_EQ(page.PackedDib(), before.PackedDib());
      continue;
    }
    EXPECT_EQ(found.black, b);
    EXPECT_EQ(found.white[0], wp);
    std::array<int, 256> mapped;
    mapped.fill(-1);
    for (int32_t y = 0; y < h; ++y) {
      for (int32_t x = 0; x < w; ++x) {
        const Bgr out = test::PixelAt(page, x, y);
        const int in = test::PixelAt(before, x, y).g;
        ASSERT_TRUE(out.b == out.g && out.g == out.r);
        ASSERT_NEAR(out.g, Expected(in, b, wp), 1);
        ASSERT_TRUE(mapped[in] < 0 || mapped[in] == out.g);  // one table
        mapped[in] = out.g;
      }
    }
    int previous = 0;
    for (const int out : mapped) {
      if (out < 0) continue;
      ASSERT_GE(out, previous);  // the order of levels is kept
      previous = out;
    }
    EXPECT_NEAR(test::PixelAt(page, 0, 0).g, Expected(black, b, wp), 1);
    EXPECT_NEAR(test::PixelAt(page, 0, h - 1).g, Expected(white, b, wp), 1);
  }
}

}  // namespace
}  // namespace inkbrite
