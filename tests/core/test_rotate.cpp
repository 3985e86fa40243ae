// SPDX-License-Identifier: GPL-2.0-or-later
// RotateImage: exact quarter turns, the fill colour at the corners, the
// blend against a plain reference, and the vector loop against the portable
// one.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "core/rotate.h"
#include "tests/test_support.h"

namespace inkbrite {
namespace {

using test::Bgr;

TEST(RotateImage, QuarterTurnMatchesRotate90AndCornersTakeTheFill) {
  const DibImage square = test::MakePattern(40, 40);
  DibImage turned = square;
  ASSERT_TRUE(RotateImage(turned, 90.0, {}));
  DibImage reference = square;
  ASSERT_TRUE(reference.Rotate90(/*clockwise=*/false));
  EXPECT_EQ(turned.PackedDib(), reference.PackedDib());

  DibImage same = square;
  ASSERT_TRUE(RotateImage(same, 0.0, {}));
  EXPECT_EQ(same.PackedDib(), square.PackedDib());

  const DibImage dark = test::MakeFilled(60, 40, Bgr{0, 0, 0});
  DibImage page = dark;
  ASSERT_TRUE(RotateImage(page, 10.0, {10, 20, 30}));
  EXPECT_EQ(test::PixelAt(page, 0, 0), (Bgr{10, 20, 30}));
  EXPECT_EQ(test::PixelAt(page, 59, 39), (Bgr{10, 20, 30}));
  EXPECT_EQ(test::PixelAt(page, 30, 20), (Bgr{0, 0, 0}));

  DibImage empty;
  EXPECT_FALSE(RotateImage(empty, 3.0, {}));
}

// A plain double-precision bilinear turn, for comparison.
DibImage Reference(const DibImage& page, double degrees, Bgr fill) {
  const double a = degrees * std::numbers::pi / 180.0;
  const double cx = page.Width() / 2.0;
  const double cy = page.Height() / 2.0;
  return test::MakeImage(page.Width(), page.Height(), [&](int32_t x, int32_t y) {
    const double dx = x + 0.5 - cx;
    const double dy = y + 0.5 - cy;
    const double px = cx + dx * std::cos(a) - dy * std::sin(a) - 0.5;
    const double py = cy + dx * std::sin(a) + dy * std::cos(a) - 0.5;
    const auto x0 = static_cast<int32_t>(std::floor(px));
    const auto y0 = static_cast<int32_t>(std::floor(py));
    const double fx = px - x0;
    const double fy = py - y0;
    auto at = [&](int32_t tx, int32_t ty) {
      return tx >= 0 && tx < page.Width() && ty >= 0 && ty < page.Height()
                 ? test::PixelAt(page, tx, ty)
                 : fill;
    };
    const Bgr p00 = at(x0, y0), p10 = at(x0 + 1, y0), p01 = at(x0, y0 + 1),
              p11 = at(x0 + 1, y0 + 1);
    auto mix = [&](uint8_t Bgr::*c) {
      const double v =
          (p00.*c * (1 - fx) + p10.*c * fx) * (1 - fy) + (p01.*c * (1 - fx) + p11.*c * fx) * fy;
      return static_cast<uint8_t>(std::lround(v));
    };
    return Bgr{mix(&Bgr::b), mix(&Bgr::g), mix(&Bgr::r)};
  });
}

TEST(RotateImage, BlendsWithinTwoLevelsOfPlainBilinear) {
  const DibImage page = test::MakePattern(97, 61);
  for (const double degrees : {-4.3, 0.7, 2.0, 30.0}) {
    SCOPED_TRACE(degrees);
    DibImage turned = page;
    ASSERT_TRUE(RotateImage(turned, degrees, {200, 100, 50}));
    const DibImage expected = Reference(page, degrees, {200, 100, 50});
    for (int32_t y = 0; y < page.Height(); ++y) {
      for (int32_t x = 0; x < page.Width(); ++x) {
        const Bgr p = test::PixelAt(turned, x, y);
        const Bgr e = test::PixelAt(expected, x, y);
        ASSERT_NEAR(p.b, e.b, 2) << x << "," << y;
        ASSERT_NEAR(p.g, e.g, 2) << x << "," << y;
        ASSERT_NEAR(p.r, e.r, 2) << x << "," << y;
      }
    }
  }
}

TEST(RotateImage, VectorLoopGivesThePortableBytes) {
  if (!RotateVectorKernelsAvailable()) GTEST_SKIP() << "no AVX-512 VBMI on this processor";
  // Odd widths leave a tail for the portable loop; padding follows the rows.
  for (const auto& [w, h] : {std::pair{333, 257}, {64, 48}, {17, 300}, {1001, 41}}) {
    const DibImage page = test::MakeNoise(w, h, static_cast<uint32_t>(w * h));
    for (const double degrees : {-5.0, -3.9, -1.21, 0.0, 0.13, 2.5, 4.99, 12.0, 90.0}) {
      SCOPED_TRACE(testing::Message() << w << " x " << h << ", " << degrees);
      DibImage vector = page;
      ASSERT_TRUE(RotateImage(vector, degrees, {1, 2, 3}));
      const bool previous = SetRotateVectorKernels(false);
      DibImage portable = page;
      ASSERT_TRUE(RotateImage(portable, degrees, {1, 2, 3}));
      SetRotateVectorKernels(previous);
      ASSERT_EQ(vector.PackedDib(), portable.PackedDib());
    }
  }
}

}  // namespace
}  // namespace inkbrite
