// SPDX-License-Identifier: GPL-2.0-or-later
// StripLayout: the continuous layout's geometry. The pages of a list stand
// one under another in a column, each scaled to the column's width (small
// pages enlarged too), with a gap under every page but the last. The model
// says where each page stands, which pages a view at a scroll position
// shows, which to hold decoded around it, and where the reader is (the
// page under the view's middle line and how far down it), so the place
// survives another column width.
//
// A page whose size is not known yet is laid out with the shape of the
// nearest known page before it (after it, when none is before; 2:3 when
// none is known), so a strip of like slices stands right before they are
// decoded; SetPageSize corrects it, and the caller keeps the reader's place
// (PlaceAt before, ScrollFor after).
//
// Positions are in the column's pixels from the strip's top; a scroll
// position is the strip's row at the view's top edge.
//
// Threads: any (no state shared).
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace inkbrite {

// A page's size as read (0 x 0: not known yet).
struct StripPageSize {
  int width = 0;
  int height = 0;
  bool Known() const { return width > 0 && height > 0; }
  friend bool operator==(const StripPageSize&, const StripPageSize&) = default;
};

// Where the reader is: list position `page` (0-based) under the view's
// middle line, `within` the share of its height above that line (0 to 1).
struct StripPlace {
  int page = 0;
  double within = 0;
};

// The column's width for a window `windowWidth` wide, `percent` of it
// (clamped to 40..100), at least one pixel.
int StripColumnWidth(int windowWidth, int percent);

// Whether a book reads as a strip by itself: its ComicInfo.xml's Format is
// "Webtoon" (any case), or more than half of the pages whose size is known
// are taller than 2.5 times their width.
bool LooksLikeStrip(std::string_view comicInfoFormat, const std::vector<StripPageSize>& sizes);

class StripLayout {
 public:
  // The pages in list order, with what is known of their sizes.
  void SetPages(std::vector<StripPageSize> sizes);
  // Page `page`'s size, now known; true when its height in the strip changed.
  bool SetPageSize(int page, StripPageSize size);
  // The column's width (at least 1) and the gap under each page (at least 0).
  void SetColumn(int width, int gap);

  int Count() const { return static_cast<int>(m_sizes.size()); }
  int Column() const { return m_column; }
  int Gap() const { return m_gap; }
  bool Known(int page) const { return m_sizes.at(page).Known(); }
  // Page `page`'s own size as known (unknown: 0 x 0).
  StripPageSize Size(int page) const { return m_sizes.at(page); }
  // The strip's whole height.
  int64_t Height() const;
  // Page `page`'s top row and its height in the column.
  int64_t Top(int page) const { return m_tops.at(page); }
  int PageHeight(int page) const { return m_heights.at(page); }

  // The page standing at row `y` (a gap counts with the page above it);
  // the first or last page outside the strip; -1 with no page.
  int PageAt(int64_t y) const;
  // The pages a view of `viewHeight` rows at `scroll` shows (gaps alone
  // show none), in order.
  std::vector<int> PagesInView(int64_t scroll, int viewHeight) const;
  // The pages to hold decoded for that view: those in view, nearest the
  // middle first (always), then those reaching within `screens` screens
  // below and above it, taken alternately from the nearest, while their
  // pixels (column times height) stay within `budgetPixels` together.
  std::vector<int> PagesToHold(int64_t scroll, int viewHeight, int screens,
                               int64_t budgetPixels) const;

  // The furthest scroll position, and `scroll` kept within 0 and it.
  int64_t MaxScroll(int viewHeight) const;
  int64_t Clamp(int64_t scroll, int viewHeight) const;
  // The reader's place for a view at `scroll`, and the scroll position that
  // shows a place (clamped).
  StripPlace PlaceAt(int64_t scroll, int viewHeight) const;
  int64_t ScrollFor(StripPlace place, int viewHeight) const;
  // The scroll position that shows page `page`'s top at the view's top.
  int64_t ScrollToPage(int page, int viewHeight) const;

  // A screen's step (Page Up/Down, Space): the view's height less an
  // overlap of a tenth of it, at least one row.
  static int ScreenStep(int viewHeight);

 private:
  void Relayout();
  // The size page `page` is laid out with.
  StripPageSize Assumed(int page) const;

  std::vector<StripPageSize> m_sizes;
  std::vector<int> m_heights;
  std::vector<int64_t> m_tops;
  int m_column = 1;
  int m_gap = 0;
};

}  // namespace inkbrite
