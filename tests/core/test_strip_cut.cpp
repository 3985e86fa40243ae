// SPDX-License-Identifier: GPL-2.0-or-later
// Where a long strip is cut: the lowest gutter within the limit, else the
// least busy row of the page's lower half; and how many rows a page may
// take for a height in the target's pixels.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/strip_cut.h"
#include "tests/test_support.h"

namespace inkbrite {
namespace {

// An ink profile from a picture of it: '#' a row of art (40 ink pixels of
// 100), '.' a blank row, digits a row of that many ink pixels; each
// character `repeat` rows.
std::vector<int32_t> Profile(const std::string& rows, int repeat = 1) {
  std::vector<int32_t> ink;
  for (char c : rows) {
    const int32_t v = c == '#' ? 40 : c == '.' ? 0 : c - '0';
    ink.insert(ink.end(), static_cast<size_t>(repeat), v);
  }
  return ink;
}

TEST(StripCut, TheLowestGutterWithinTheLimitElseTheLeastBusyRowOfTheLowerHalf) {
  struct Case {
    const char* what;
    std::string rows;
    int32_t limit;
    StripCut cut;
  };
  const Case cases[] = {
      {"short enough: one page", "##..##", 6, {6, true}},
      {"the lowest of two gutters", "##....##....######", 12, {10, true}},
      {"a gutter reaching past the limit: cut in its paper, yet no gutter cut",
       "########....##",
       9,
       {9, false}},
      {"two blank rows each side at the limit itself", "######....####", 8, {8, true}},
      {"a blank run of three is no gutter", "###...########", 12, {6, false}},
      {"a row with one ink pixel in a hundred is not blank", "###..1..######", 12, {7, false}},
      {"no gutter: the quietest pair of rows of the lower half", "#####3#2##", 9, {8, false}},
      {"the quietest pair lies in the upper half: not taken", "##1.######", 9, {9, false}},
      {"a gutter in the upper half before the strip's end", "#....#########", 12, {3, true}},
      {"a gutter in the upper half that spares the next page a cut",
       "#....#######....#####",
       12,
       {3, true}},
      {"a gutter in the upper half that would only put the cut off",
       "#....###################",
       12,
       {12, false}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(FindStripCut(Profile(c.rows), 100, c.limit), c.cut);
  }
  // A wide row may hold a speck of dust: one pixel in a thousand.
  EXPECT_TRUE(IsStripBlankRow(2, 2000));
  EXPECT_FALSE(IsStripBlankRow(3, 2000));
  EXPECT_FALSE(IsStripBlankRow(1, 999));
}

TEST(StripCut, RowInkCountsThePixelsAwayFromThePaper) {
  DibImage page = test::MakeFilled(50, 4, test::Bgr{250, 250, 250});
  for (int32_t x = 0; x < 7; ++x) test::SetPixel(page, x, 1, test::Bgr{10, 10, 10});
  test::SetPixel(page, 3, 2, test::Bgr{210, 250, 250});  // within the tolerance
  test::SetPixel(page, 4, 3, test::Bgr{250, 250, 150});  // one channel far
  std::vector<int32_t> ink{99};
  StripRowInk(page, InkTest(Bgr8{250, 250, 250}, 48), ink);
  EXPECT_EQ(ink, (std::vector<int32_t>{99, 0, 7, 0, 1}));
}

TEST(StripCut, ThePageRowsForATargetHeightAfterFittingAndResizing) {
  struct Case {
    int32_t width, target, fitWidth, fitHeight;
    int percent;
    int32_t rows;
  };
  const Case cases[] = {
      {800, 1280, 0, 0, 100, 1280},         // as it is
      {1600, 1280, 800, 1280, 100, 2560},   // fitted to half its width
      {600, 1280, 800, 1280, 100, 1280},    // narrower than the screen: never enlarged
      {800, 1280, 0, 0, 50, 2561},          // resized to half (1280.5 rows are 1280)
      {800, 1000, 0, 0, 150, 667},          // enlarged
      {1072, 1448, 1072, 1448, 100, 1448},  // a device's own screen
      {1000, 1448, 1072, 1448, 100, 1448}, {2000, 1448, 1072, 1448, 100, 2702},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + " wide, " + std::to_string(c.target) + " high");
    const int32_t rows = StripSourceLimit(c.width, c.target, c.fitWidth, c.fitHeight, c.percent);
    EXPECT_EQ(rows, c.rows);
    // The page of that many rows fits; one row more would not.
    EXPECT_LE(StripTargetHeight(c.width, rows, c.fitWidth, c.fitHeight, c.percent), c.target);
    EXPECT_GT(StripTargetHeight(c.width, rows + 1, c.fitWidth, c.fitHeight, c.percent), c.target);
  }
}

}  // namespace
}  // namespace inkbrite
