// SPDX-License-Identifier: GPL-2.0-or-later
// The continuous layout's geometry: where pages stand (known and assumed
// sizes, gaps, rounding), which a view shows and which are held around it
// within a budget, the reader's place kept across column widths, and which
// books read as strips by themselves.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "browse/reading/reading_places.h"
#include "browse/reading/strip_layout.h"

namespace inkbrite {
namespace {

constexpr StripPageSize kUnknown{};

StripLayout Layout(std::vector<StripPageSize> sizes, int column, int gap) {
  StripLayout layout;
  layout.SetPages(std::move(sizes));
  layout.SetColumn(column, gap);
  return layout;
}

// Ten pages 10 wide and 100 high in a column of 10: page i at rows 100i.
StripLayout TenPages() { return Layout(std::vector<StripPageSize>(10, {10, 100}), 10, 0); }

TEST(StripLayout, StandsPagesAtTheColumnsWidthWithAssumedShapesAndGaps) {
  struct Case {
    const char* what;
    std::vector<StripPageSize> sizes;
    int column, gap;
    std::vector<int> heights;
    std::vector<int64_t> tops;
  };
  const Case cases[] = {
      {"slices shrunk",
       {{800, 1280}, {800, 1280}, {800, 1280}},
       400,
       0,
       {640, 640, 640},
       {0, 640, 1280}},
      {"a gap under each page",
       {{800, 1280}, {800, 1280}, {800, 1280}},
       400,
       10,
       {640, 640, 640},
       {0, 650, 1300}},
      {"a small page enlarged", {{50, 100}}, 200, 0, {400}, {0}},
      {"rounded to the nearest row", {{3, 1}, {3, 2}}, 100, 0, {33, 67}, {0, 33}},
      {"unknown: the known page before, else after",
       {kUnknown, {100, 300}, kUnknown, {200, 200}, kUnknown},
       100,
       0,
       {300, 300, 300, 100, 100},
       {0, 300, 600, 900, 1000}},
      {"nothing known: 2 by 3", {kUnknown, kUnknown}, 200, 5, {300, 300}, {0, 305}},
      {"a page one row high", {{65535, 1}}, 10, 0, {1}, {0}},
      {"no pages", {}, 100, 0, {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const StripLayout layout = Layout(c.sizes, c.column, c.gap);
    ASSERT_EQ(layout.Count(), static_cast<int>(c.heights.size()));
    for (int i = 0; i < layout.Count(); ++i) {
      EXPECT_EQ(layout.PageHeight(i), c.heights[i]) << i;
      EXPECT_EQ(layout.Top(i), c.tops[i]) << i;
    }
    const int64_t height = c.heights.empty() ? 0 : c.tops.back() + c.heights.back();
    EXPECT_EQ(layout.Height(), height);
  }
}

TEST(StripLayout, LearnedSizesMoveThePagesTheyStoodFor) {
  StripLayout layout = Layout({{100, 100}, kUnknown, kUnknown, kUnknown}, 100, 0);
  EXPECT_EQ(layout.Height(), 400);
  // The second page is taller: it and the unknown pages after it follow.
  EXPECT_TRUE(layout.SetPageSize(1, {100, 300}));
  EXPECT_EQ(layout.Top(3), 700);
  EXPECT_EQ(layout.Height(), 1000);
  EXPECT_FALSE(layout.SetPageSize(1, {100, 300}));  // nothing new
  EXPECT_FALSE(layout.SetPageSize(3, {50, 150}));   // another size, the same height
  EXPECT_TRUE(layout.Known(3));
  EXPECT_FALSE(layout.SetPageSize(4, {1, 1}));   // no such page
  EXPECT_FALSE(layout.SetPageSize(-1, {1, 1}));  // likewise
  EXPECT_FALSE(layout.SetPageSize(2, kUnknown));
  EXPECT_EQ(layout.Height(), 1000);
}

TEST(StripLayout, FindsThePagesInViewAndAtARow) {
  // Four pages 100 high with gaps of 10: rows 0, 110, 220, 330; 430 in all.
  const StripLayout layout = Layout(std::vector<StripPageSize>(4, {50, 50}), 100, 10);
  struct Case {
    int64_t scroll;
    int view;
    std::vector<int> pages;
  };
  const Case views[] = {
      {0, 50, {0}},    {90, 30, {0, 1}}, {100, 10, {}}, {99, 12, {0, 1}}, {0, 430, {0, 1, 2, 3}},
      {400, 100, {3}}, {-20, 30, {0}},   {500, 50, {}}, {0, 0, {}},
  };
  for (const Case& c : views) {
    EXPECT_EQ(layout.PagesInView(c.scroll, c.view), c.pages) << c.scroll << "+" << c.view;
  }
  const std::pair<int64_t, int> rows[] = {{0, 0},  {99, 0},  {105, 0},  {110, 1},
                                          {-5, 0}, {429, 3}, {10000, 3}};
  for (const auto& [row, page] : rows) EXPECT_EQ(layout.PageAt(row), page) << row;
  EXPECT_EQ(StripLayout().PageAt(0), -1);
}

TEST(StripLayout, HoldsThePagesInViewThenNeighboursAlternatelyWithinReachAndBudget) {
  const StripLayout layout = TenPages();
  constexpr int64_t kAll = std::numeric_limits<int64_t>::max() / 2;
  struct Case {
    const char* what;
    int64_t scroll;
    int screens;
    int64_t budget;
    std::vector<int> pages;
  };
  // A view of 100 rows; each page is 1000 pixels.
  const Case cases[] = {
      {"middle first, two screens either way", 420, 2, kAll, {4, 5, 6, 3, 7, 2}},
      {"the budget closes each side", 420, 2, 2000, {4, 5, 6, 3}},
      {"a page and a half of budget", 420, 2, 1500, {4, 5, 6}},
      {"in view with no budget at all", 420, 2, 0, {4, 5}},
      {"no reach", 420, 0, kAll, {4, 5}},
      {"the nearer of two pages first", 460, 0, kAll, {5, 4}},
      {"at the end, only above", 900, 2, kAll, {9, 8, 7}},
      {"at the start, only below", 0, 1, kAll, {0, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(layout.PagesToHold(c.scroll, 100, c.screens, c.budget), c.pages);
  }
}

TEST(StripLayout, KeepsTheReadersPlaceAcrossColumnWidths) {
  StripLayout layout = Layout(std::vector<StripPageSize>(4, {50, 50}), 100, 10);
  // A view of 60 rows: its middle line 30 rows down.
  struct Case {
    int64_t scroll;
    int page;
    double within;
  };
  const Case places[] = {{0, 0, 0.3}, {100, 1, 0.2}, {75, 0, 1.0}, {370, 3, 0.7}};
  for (const Case& c : places) {
    const StripPlace place = layout.PlaceAt(c.scroll, 60);
    EXPECT_EQ(place.page, c.page) << c.scroll;
    EXPECT_NEAR(place.within, c.within, 1e-9) << c.scroll;
  }
  // Every position whose middle line is on a page comes back, at any width.
  for (int column : {100, 37, 250}) {
    layout.SetColumn(column, 10);
    for (int64_t scroll = 0; scroll <= layout.MaxScroll(60); ++scroll) {
      const int64_t middle = scroll + 30;
      const int page = layout.PageAt(middle);
      if (middle >= layout.Top(page) + layout.PageHeight(page)) continue;  // in a gap
      const StripPlace place = layout.PlaceAt(scroll, 60);
      ASSERT_EQ(layout.ScrollFor(place, 60), scroll) << column;
    }
  }
  // A place from a wider column lands on the same share of the page.
  layout.SetColumn(100, 10);
  const StripPlace wide = layout.PlaceAt(130, 60);  // page 1, 0.5 down
  layout.SetColumn(200, 10);
  EXPECT_EQ(layout.ScrollFor(wide, 60), 210 + 100 - 30);
  // Places outside the strip are clamped; a damaged share reads as the top.
  EXPECT_EQ(layout.ScrollFor({99, 1.0}, 60), layout.MaxScroll(60));
  EXPECT_EQ(layout.ScrollFor({-3, 0.0}, 60), 0);
  EXPECT_EQ(layout.ScrollFor({2, std::nan("")}, 60), 2 * 210 - 30);
  EXPECT_EQ(layout.ScrollToPage(3, 60), 630);
  EXPECT_EQ(layout.ScrollToPage(3, 1000), layout.MaxScroll(1000));
  EXPECT_EQ(layout.Clamp(-5, 60), 0);
  EXPECT_EQ(StripLayout().ScrollFor({0, 0.5}, 60), 0);
}

TEST(StripLayout, ColumnWidthsStepsAndBooksThatReadAsStrips) {
  const int widths[][3] = {{1000, 100, 1000}, {1000, 40, 400}, {1000, 20, 400},
                           {1000, 150, 1000}, {999, 55, 549},  {0, 100, 1}};
  for (const auto& w : widths) EXPECT_EQ(StripColumnWidth(w[0], w[1]), w[2]) << w[1];
  EXPECT_EQ(StripLayout::ScreenStep(100), 90);
  EXPECT_EQ(StripLayout::ScreenStep(1), 1);
  EXPECT_EQ(StripLayout::ScreenStep(0), 1);

  const StripPageSize tall{800, 2001}, page{800, 1200}, edge{800, 2000};
  struct Case {
    std::string format;
    std::vector<StripPageSize> sizes;
    bool strip;
  };
  const Case books[] = {
      {"Webtoon", {page}, true},
      {"WEBTOON", {}, true},
      {"Webtoons", {page}, false},
      {"", {tall, tall, page}, true},
      {"", {tall, page}, false},  // half is not most
      {"", {edge, edge}, false},  // 2.5 times is not taller than it
      {"", {tall, kUnknown, kUnknown}, true},
      {"", {kUnknown}, false},
      {"Manga", {}, false},
  };
  for (const Case& c : books) {
    EXPECT_EQ(LooksLikeStrip(c.format, c.sizes), c.strip) << c.format << " " << c.sizes.size();
  }
}

TEST(StripLayout, ThePlaceInAStripIsRememberedWithTheLayoutChoice) {
  const std::filesystem::path book = "/nowhere/strip-place-test.cbz";
  EXPECT_EQ(LoadReadingPlace(book).continuous, -1);  // never chosen
  struct Case {
    int continuous;
    double within, read;
  };
  const Case cases[] = {{1, 0.375, 0.375}, {0, 0.0, 0.0}, {1, 7.0, 1.0}, {1, -2.0, 0.0}};
  for (const Case& c : cases) {
    ReadingPlace place;
    place.page = "007.jpg";
    place.continuous = c.continuous;
    place.stripWithin = c.within;
    SaveStripPlace(book, place);
    const ReadingPlace read = LoadReadingPlace(book);
    EXPECT_EQ(read.page, "007.jpg");
    EXPECT_EQ(read.continuous, c.continuous);
    EXPECT_DOUBLE_EQ(read.stripWithin, c.read) << c.within;
  }
}

}  // namespace
}  // namespace inkbrite
