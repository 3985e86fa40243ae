// SPDX-License-Identifier: GPL-2.0-or-later
// Margin crop: known margins are cut to the content's box, dust is not
// content, pages it would harm are left alone, facing pages can share one
// box.
#include <gtest/gtest.h>

#include <random>

#include "core/margin_crop.h"
#include "core/spread_split.h"
#include "tests/core/scan_pages.h"

namespace inkbrite {
namespace {

using test::Bgr;

constexpr Bgr kPaper{238, 242, 246};

// Each side of `found.box` within `slack` pixels outside `box` (never inside).
void ExpectBoxAround(const CropFound& found, const DibRect& box, int slack) {
  EXPECT_LE(found.box.left, box.left);
  EXPECT_GE(found.box.left, box.left - slack);
  EXPECT_LE(found.box.top, box.top);
  EXPECT_GE(found.box.top, box.top - slack);
  EXPECT_GE(found.box.right, box.right);
  EXPECT_LE(found.box.right, box.right + slack);
  EXPECT_GE(found.box.bottom, box.bottom);
  EXPECT_LE(found.box.bottom, box.bottom + slack);
}

TEST(MarginCrop, CutsKnownMarginsToTheContentBox) {
  std::mt19937 rng(1);
  const DibRect box{70, 90, 730, 1020};
  const DibImage page = test::ComicPage(800, 1100, box, rng, kPaper);

  DibImage tight = page;
  const CropFound found = MarginCrop(tight, {.border = 0});
  ASSERT_TRUE(found.applied);
  ExpectBoxAround(found, box, 2);
  EXPECT_EQ(tight.Width(), found.box.Width());
  EXPECT_EQ(tight.Height(), found.box.Height());
  // The kept pixels are the page's own, moved to the corner.
  DibImage expected;
  ASSERT_TRUE(CopyRegion(page, found.box, expected));
  EXPECT_EQ(tight.PackedDib(), expected.PackedDib());

  DibImage bordered = page;
  const CropFound withBorder = MarginCrop(bordered, {.border = 12});
  ExpectBoxAround(withBorder, {58, 78, 742, 1032}, 2);
}

TEST(MarginCrop, DustAndScannerNoiseAreNotContent) {
  std::mt19937 rng(2);
  const DibRect box{100, 60, 500, 700};
  DibImage page = test::ComicPage(600, 780, box, rng, kPaper);
  test::AddDust(page, box, 25, rng);
  // Noise of a few levels over the whole page.
  for (int32_t y = 0; y < page.Height(); ++y) {
    uint8_t* p = page.Row(y);
    for (int32_t i = 0; i < page.Width() * 3; ++i) {
      p[i] = static_cast<uint8_t>(std::clamp(p[i] + test::Uniform(rng, -6, 6), 0, 255));
    }
  }
  ExpectBoxAround(FindMarginCrop(page, {.border = 0}), box, 2);
}

TEST(MarginCrop, LeavesAlonePagesItWouldHarm) {
  std::mt19937 rng(3);
  const struct {
    const char* what;
    DibImage page;
  } cases[] = {
      {"blank", test::MakeFilled(300, 400, kPaper)},
      {"content to every edge", test::ComicPage(300, 400, {0, 0, 300, 400}, rng, kPaper)},
      {"noise", test::MakeNoise(300, 400)},
      {"margins within the border", test::ComicPage(300, 400, {5, 6, 296, 394}, rng, kPaper)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    DibImage page = c.page;
    const CropFound found = MarginCrop(page, {});
    EXPECT_FALSE(found.applied);
    EXPECT_EQ(found.box, (DibRect{0, 0, 300, 400}));
    EXPECT_EQ(page.PackedDib(), c.page.PackedDib());
  }
}

TEST(MarginCrop, NeverBelowTheMinimumShare) {
  // A small logo in the middle of an empty page.
  DibImage page = test::MakeImage(500, 700, [](int32_t x, int32_t y) {
    return x >= 200 && x < 260 && y >= 300 && y < 340 ? Bgr{0, 0, 0} : kPaper;
  });
  const CropFound found = FindMarginCrop(page, {.border = 0, .minSharePercent = 60});
  ASSERT_TRUE(found.applied);
  EXPECT_EQ(found.box.Width(), 300);
  EXPECT_EQ(found.box.Height(), 420);
  ExpectBoxAround(found, {200, 300, 260, 340}, 400);
  EXPECT_GE(found.box.left, 0);
  EXPECT_LE(found.box.right, 500);
}

TEST(MarginCrop, FacingPagesShareOneBox) {
  std::mt19937 rng(4);
  const DibImage a = test::ComicPage(400, 560, {30, 40, 380, 520}, rng, kPaper);
  const DibImage b = test::ComicPage(400, 560, {10, 50, 350, 530}, rng, kPaper);
  CropFound fa = FindMarginCrop(a, {.border = 0});
  CropFound fb = FindMarginCrop(b, {.border = 0});
  ShareFacingCrop(fa, fb);
  EXPECT_EQ(fa.box, fb.box);
  ExpectBoxAround(fa, {10, 40, 380, 530}, 2);

  // A blank page follows its partner; pages of different sizes keep theirs.
  const DibImage blank = test::MakeFilled(400, 560, kPaper);
  CropFound fc = FindMarginCrop(a, {.border = 0});
  CropFound fBlank = FindMarginCrop(blank, {.border = 0});
  ShareFacingCrop(fBlank, fc);
  EXPECT_TRUE(fBlank.applied);
  EXPECT_EQ(fBlank.box, fc.box);
  CropFound small = FindMarginCrop(test::ComicPage(300, 400, {20, 20, 280, 380}, rng, kPaper), {});
  const CropFound smallBefore = small;
  CropFound fd = FindMarginCrop(a, {});
  ShareFacingCrop(small, fd);
  EXPECT_EQ(small, smallBefore);
}

// Property: on generated pages with random margins, paper, dust and noise,
// the box always holds the whole content, lies within the border (plus 2
// pixels) of it unless grown to the minimum share, and cropping keeps the
// page's own pixels.
TEST(MarginCrop, PropertyOnGeneratedPages) {
  std::mt19937 rng(77);
  for (int i = 0; i < 100; ++i) {
    const int32_t w = test::Uniform(rng, 200, 700);
    const int32_t h = test::Uniform(rng, 200, 900);
    const DibRect box{test::Uniform(rng, 0, w / 5), test::Uniform(rng, 0, h / 5),
                      w - test::Uniform(rng, 0, w / 5), h - test::Uniform(rng, 0, h / 5)};
    const Bgr paper{static_cast<uint8_t>(test::Uniform(rng, 180, 255)),
                    static_cast<uint8_t>(test::Uniform(rng, 180, 255)),
                    static_cast<uint8_t>(test::Uniform(rng, 180, 255))};
    const MarginCropSettings settings{.border = test::Uniform(rng, 0, 20),
                                      .minSharePercent = test::Uniform(rng, 10, 100)};
    SCOPED_TRACE(testing::Message()
                 << "page " << i << ": " << w << " x " << h << ", box " << box.left << ","
                 << box.top << "," << box.right << "," << box.bottom << ", border "
                 << settings.border << ", share " << settings.minSharePercent);
    DibImage page = test::ComicPage(w, h, box, rng, paper);
    // Dust as on a poor scan: up to one speck per 20000 pixels.
    test::AddDust(page, box, test::Uniform(rng, 0, w * h / 20000), rng);
    const DibImage before = page;
    const CropFound found = MarginCrop(page, settings);

    EXPECT_LE(found.box.left, box.left);
    EXPECT_LE(found.box.top, box.top);
    EXPECT_GE(found.box.right, box.right);
    EXPECT_GE(found.box.bottom, box.bottom);
    const int32_t leastW = (w * settings.minSharePercent + 99) / 100;
    const int32_t leastH = (h * settings.minSharePercent + 99) / 100;
    EXPECT_GE(found.box.Width(), leastW);
    EXPECT_GE(found.box.Height(), leastH);
    // Within the border of the content, or grown to the least share.
    const int slack = settings.border + 2;
    const bool tightX = found.box.left >= box.left - slack && found.box.right <= box.right + slack;
    const bool tightY = found.box.top >= box.top - slack && found.box.bottom <= box.bottom + slack;
    EXPECT_TRUE(tightX || found.box.Width() == leastW);
    EXPECT_TRUE(tightY || found.box.Height() == leastH);
    if (box.Width() + 2 * slack < leastW) {
      EXPECT_EQ(found.box.Width(), leastW);
    }
    if (box.Height() + 2 * slack < leastH) {
      EXPECT_EQ(found.box.Height(), leastH);
    }
    DibImage expected;
    ASSERT_TRUE(CopyRegion(before, found.box, expected));
    EXPECT_EQ(page.PackedDib(), expected.PackedDib());
    EXPECT_EQ(found.applied, found.box != (DibRect{0, 0, w, h}));
  }
}

}  // namespace
}  // namespace inkbrite
