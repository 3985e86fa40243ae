// SPDX-License-Identifier: GPL-2.0-or-later
// Spread splitting: a double page splits at its gutter (or its middle) into
// two pages in reading order; single pages are not spreads.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>

#include "core/spread_split.h"
#include "tests/core/scan_pages.h"

namespace inkbrite {
namespace {

using test::Bgr;

constexpr Bgr kPaper{240, 240, 236};

// Two comic pages side by side, the paper between their content boxes
// running from gutterLeft to gutterRight.
DibImage Spread(int32_t w, int32_t h, int32_t gutterLeft, int32_t gutterRight, std::mt19937& rng,
                Bgr paper = kPaper) {
  const int32_t my = h / 12;
  DibImage spread = test::ComicPage(w, h, {w / 20, my, gutterLeft, h - my}, rng, paper);
  const DibImage right = test::ComicPage(w, h, {gutterRight, my, w - w / 20, h - my}, rng, paper);
  for (int32_t y = 0; y < h; ++y) {
    std::memcpy(spread.Row(y) + static_cast<size_t>(gutterRight) * 3,
                right.Row(y) + static_cast<size_t>(gutterRight) * 3,
                static_cast<size_t>(w - gutterRight) * 3);
  }
  return spread;
}

TEST(SpreadSplit, SplitsAtTheKnownGutterInReadingOrder) {
  std::mt19937 rng(1);
  // The gutter off the middle, as scanned books have it.
  const DibImage spread = Spread(1600, 1100, 830, 880, rng);
  const SpreadFound found = FindSpread(spread);
  ASSERT_TRUE(found.split);
  EXPECT_TRUE(found.gutter);
  EXPECT_NEAR(found.column, 855, 4);

  DibImage first;
  DibImage second;
  ASSERT_TRUE(SplitSpread(spread, found, /*rightToLeft=*/false, first, second));
  EXPECT_EQ(first.Width(), found.column);
  EXPECT_EQ(second.Width(), 1600 - found.column);
  EXPECT_EQ(first.Height(), 1100);
  EXPECT_EQ(test::PixelAt(first, 100, 500), test::PixelAt(spread, 100, 500));
  EXPECT_EQ(test::PixelAt(second, 100, 500), test::PixelAt(spread, found.column + 100, 500));

  DibImage manga1;
  DibImage manga2;
  ASSERT_TRUE(SplitSpread(spread, found, /*rightToLeft=*/true, manga1, manga2));
  EXPECT_EQ(manga1.PackedDib(), second.PackedDib());
  EXPECT_EQ(manga2.PackedDib(), first.PackedDib());
}

TEST(SpreadSplit, ArtAcrossTheMiddleSplitsInTheMiddle) {
  // One picture over both pages: no paper anywhere near the middle.
  const DibImage art = test::MakeImage(1400, 1000, [](int32_t x, int32_t y) {
    return x > 30 && x < 1370 && y > 30 && y < 970
               ? Bgr{static_cast<uint8_t>(x / 8), 60, static_cast<uint8_t>(y / 5)}
               : kPaper;
  });
  const SpreadFound found = FindSpread(art);
  EXPECT_TRUE(found.split);
  EXPECT_FALSE(found.gutter);
  EXPECT_EQ(found.column, 700);
}

TEST(SpreadSplit, PagesNotWiderThanTallAreNotSpreads) {
  std::mt19937 rng(3);
  for (const auto& [w, h] : {std::pair{800, 1100}, {900, 900}}) {
    const DibImage page = test::ComicPage(w, h, {40, 40, w - 40, h - 40}, rng, kPaper);
    const SpreadFound found = FindSpread(page);
    EXPECT_FALSE(found.split);
    DibImage first;
    DibImage second;
    EXPECT_FALSE(SplitSpread(page, found, false, first, second));
    EXPECT_TRUE(first.IsEmpty());
    EXPECT_TRUE(second.IsEmpty());
  }
  DibImage empty;
  EXPECT_FALSE(FindSpread(empty).split);
}

TEST(SpreadSplit, DustInTheGutterDoesNotHideIt) {
  for (uint32_t seed = 0; seed < 8; ++seed) {
    std::mt19937 rng(seed);
    DibImage spread = Spread(1200, 800, 570, 640, rng);
    for (int i = 0; i < 15; ++i) {
      const int32_t x = test::Uniform(rng, 575, 634);
      const int32_t y = test::Uniform(rng, 0, 798);
      test::FillRect(spread, {x, y, x + 2, y + 2}, {30, 30, 30});
    }
    const SpreadFound found = FindSpread(spread);
    EXPECT_TRUE(found.gutter);
    EXPECT_NEAR(found.column, 605, 4) << "seed " << seed;
  }
}

// Property: on generated spreads of many sizes, paper colours and gutter
// places and widths within the middle quarter, the split lies within 4
// pixels of the gutter's middle, and the halves put together give the spread.
TEST(SpreadSplit, PropertyOnGeneratedSpreads) {
  std::mt19937 rng(55);
  for (int i = 0; i < 60; ++i) {
    const int32_t h = test::Uniform(rng, 300, 900);
    const int32_t w = test::Uniform(rng, h + 1, h * 2);
    const int32_t width = test::Uniform(rng, 6, w / 10);
    const int32_t left = test::Uniform(rng, w * 3 / 8 + 2, w - w * 3 / 8 - width - 2);
    const Bgr paper{static_cast<uint8_t>(test::Uniform(rng, 190, 255)),
                    static_cast<uint8_t>(test::Uniform(rng, 190, 255)),
                    static_cast<uint8_t>(test::Uniform(rng, 190, 255))};
    SCOPED_TRACE(testing::Message() << "spread " << i << ": " << w << " x " << h << ", gutter "
                                    << left << " to " << left + width);
    const DibImage spread = Spread(w, h, left, left + width, rng, paper);
    const SpreadFound found = FindSpread(spread);
    ASSERT_TRUE(found.split);
    EXPECT_TRUE(found.gutter);
    EXPECT_NEAR(found.column, left + width / 2, 4);

    const bool rightToLeft = i % 2 == 1;
    DibImage first;
    DibImage second;
    ASSERT_TRUE(SplitSpread(spread, found, rightToLeft, first, second));
    const DibImage& l = rightToLeft ? second : first;
    const DibImage& r = rightToLeft ? first : second;
    ASSERT_EQ(l.Width() + r.Width(), w);
    for (int32_t y = 0; y < h; y += 37) {
      ASSERT_EQ(std::memcmp(l.Row(y), spread.Row(y), static_cast<size_t>(l.Width()) * 3), 0);
      ASSERT_EQ(std::memcmp(r.Row(y), spread.Row(y) + static_cast<size_t>(l.Width()) * 3,
                            static_cast<size_t>(r.Width()) * 3),
                0);
    }
  }
}

// A spread has the shape of two of the book's pages, and a small picture is
// never one.
TEST(SpreadSplit, ASpreadIsShapedLikeTwoPages) {
  const SinglePage none;
  const SinglePage book{1600, 2400, true};
  const SinglePage screen{1072, 1448, false};
  const struct {
    int32_t w, h;
    SinglePage page;
    bool spread;
  } cases[] = {
      {1200, 800, none, true},    {800, 1200, none, false},    {227, 149, none, false},
      {227, 149, book, false},    {3200, 2400, book, true},    {2600, 2400, book, true},
      {2400, 2400, book, false},  {3200, 1800, book, false},   {4400, 2400, book, false},
      {2000, 1400, screen, true}, {1400, 1400, screen, false}, {4000, 1000, screen, false},
      {227, 149, screen, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SpreadShaped(c.w, c.h, c.page), c.spread)
        << c.w << " x " << c.h << " against " << c.page.width << " x " << c.page.height;
  }
  std::mt19937 rng(8);
  const DibImage small = Spread(227, 149, 105, 122, rng);
  EXPECT_FALSE(FindSpread(small).split);
  EXPECT_FALSE(FindSpread(Spread(1800, 1200, 880, 920, rng), book).split);  // half a book page
  EXPECT_TRUE(FindSpread(Spread(3200, 2400, 1560, 1640, rng), book).split);
}

}  // namespace
}  // namespace inkbrite
