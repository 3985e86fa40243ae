// SPDX-License-Identifier: GPL-2.0-or-later
// The batch job's long strips: a tall page, or a run of slices joined, cut
// into pages no taller than the run's limit, each cut in a gutter where one
// lies within reach (core/strip_cut.h).
//
// StripCutter takes the slices in reading order and hands out each page as
// soon as its cut is placed, keeping only the slices that the page being
// placed reaches into: a strip of hundreds of slices is never held whole.
// Slices of another width than the strip's begin a strip of their own (what
// came before ends as it is). The pages stacked again are the slices, row
// for row.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "core/dib_image.h"
#include "core/para_block.h"
#include "core/scan_analysis.h"
#include "platform/messages.h"

namespace inkbrite {

// What the report says of a page whose lower edge found no gutter within
// reach.
inline constexpr std::string_view kStripCutThroughArt =
    INKBRITE_TEXT("batch", "在第%1行穿过画面切开");

// The limit of a run: pages at most `targetHeight` high in the target's
// pixels, after the pipeline's fitting (fitWidth x fitHeight) and resizing.
struct StripLimit {
  int32_t targetHeight = 0;  // 0: strips are not cut
  int32_t fitWidth = 0;
  int32_t fitHeight = 0;
  int percent = 100;
  int tolerance = 48;  // a channel differing from the paper's by more is ink
};

// The run's limit from its settings' values (kFitWidth, kFitHeight,
// kResize, kAutoCropTolerance).
StripLimit StripLimitOf(int32_t targetHeight, const EnhanceSettings& params);

// One page cut from a strip.
struct StripPiece {
  DibImage image;
  int64_t top = 0;      // its first row, counted from the strip's top
  bool artCut = false;  // its lower edge cuts through the art (no gutter in reach)
  // For the --report line: "cuts=TOP,BOTTOM" (its rows in the strip) and,
  // after a tab, kStripCutThroughArt when its lower edge cut the art.
  std::string Fields() const;
};

class StripCutter {
 public:
  explicit StripCutter(const StripLimit& limit) : m_limit(limit) {}

  // The next slice (made 24-bit), in reading order; every page whose cut is
  // now placed is appended to `out`. False when a page could not be made
  // (no memory).
  bool Add(DibImage slice, std::vector<StripPiece>& out);
  // No more slices: the rest, as pages.
  bool Finish(std::vector<StripPiece>& out);

  // What the window holds now (rows of slices kept), for the tests.
  int64_t HeldRows() const { return m_end - m_windowTop; }

 private:
  struct Slice {
    DibImage image;
    int64_t top = 0;  // in the strip
  };
  bool CutPages(bool finishing, std::vector<StripPiece>& out);
  bool MakePiece(int32_t rows, bool gutter, std::vector<StripPiece>& out);

  StripLimit m_limit;
  std::deque<Slice> m_window;
  std::vector<int32_t> m_ink;  // of the rows from m_start on
  int32_t m_width = 0;
  int32_t m_rows = 0;       // the source rows a page may take
  int64_t m_start = 0;      // the first row of the page being placed
  int64_t m_end = 0;        // the row after the last one added
  int64_t m_windowTop = 0;  // the first row of m_window's first slice
};

// The name of page `n` (from 1) of strip `stem`: "stem_001", at least three
// digits.
std::string StripPageStem(const std::string& stem, size_t n);

}  // namespace inkbrite
