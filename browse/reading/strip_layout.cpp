// SPDX-License-Identifier: GPL-2.0-or-later
#include "browse/reading/strip_layout.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <utility>

namespace inkbrite {

namespace {

// The shape a page takes while no page's size is known: upright, 2:3.
constexpr StripPageSize kNoneKnown{2, 3};

}  // namespace

int StripColumnWidth(int windowWidth, int percent) {
  const int64_t share = std::clamp(percent, 40, 100);
  return static_cast<int>(std::max<int64_t>(1, int64_t{std::max(windowWidth, 0)} * share / 100));
}

bool LooksLikeStrip(std::string_view comicInfoFormat, const std::vector<StripPageSize>& sizes) {
  constexpr std::string_view kWebtoon = "webtoon";
  const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
  if (std::equal(comicInfoFormat.begin(), comicInfoFormat.end(), kWebtoon.begin(), kWebtoon.end(),
                 [&](char a, char b) { return lower(a) == b; })) {
    return true;
  }
  int known = 0, tall = 0;
  for (const StripPageSize& size : sizes) {
    if (!size.Known()) continue;
    ++known;
    tall += int64_t{size.height} * 2 > int64_t{size.width} * 5 ? 1 : 0;
  }
  return known > 0 && tall * 2 > known;
}

void StripLayout::SetPages(std::vector<StripPageSize> sizes) {
  m_sizes = std::move(sizes);
  Relayout();
}

bool StripLayout::SetPageSize(int page, StripPageSize size) {
  if (page < 0 || page >= Count() || !size.Known() || m_sizes[page] == size) return false;
  const int before = m_heights[page];
  m_sizes[page] = size;
  Relayout();
  return m_heights[page] != before;
}

void StripLayout::SetColumn(int width, int gap) {
  m_column = std::max(width, 1);
  m_gap = std::max(gap, 0);
  Relayout();
}

StripPageSize StripLayout::Assumed(int page) const {
  for (int i = page; i >= 0; --i) {
    if (m_sizes[i].Known()) return m_sizes[i];
  }
  for (int i = page + 1; i < Count(); ++i) {
    if (m_sizes[i].Known()) return m_sizes[i];
  }
  return kNoneKnown;
}

void StripLayout::Relayout() {
  const int count = Count();
  m_heights.assign(count, 1);
  m_tops.assign(count, 0);
  // The nearest known size before each page, in one pass (the first known
  // one for the pages before it).
  StripPageSize shape = count > 0 ? Assumed(0) : kNoneKnown;
  int64_t top = 0;
  for (int i = 0; i < count; ++i) {
    if (m_sizes[i].Known()) shape = m_sizes[i];
    const int64_t scaled =
        (int64_t{shape.height} * m_column * 2 + shape.width) / (int64_t{shape.width} * 2);
    m_heights[i] = static_cast<int>(std::clamp<int64_t>(scaled, 1, 1 << 30));
    m_tops[i] = top;
    top += m_heights[i] + m_gap;
  }
}

int64_t StripLayout::Height() const {
  if (m_sizes.empty()) return 0;
  return m_tops.back() + m_heights.back();
}

int StripLayout::PageAt(int64_t y) const {
  if (m_sizes.empty()) return -1;
  // The last page whose top is at or above y.
  const auto after = std::upper_bound(m_tops.begin(), m_tops.end(), y);
  return after == m_tops.begin() ? 0 : static_cast<int>(after - m_tops.begin()) - 1;
}

std::vector<int> StripLayout::PagesInView(int64_t scroll, int viewHeight) const {
  std::vector<int> pages;
  if (m_sizes.empty() || viewHeight <= 0) return pages;
  const int64_t bottom = scroll + viewHeight;
  for (int page = PageAt(scroll); page < Count() && m_tops[page] < bottom; ++page) {
    if (m_tops[page] + m_heights[page] > scroll) pages.push_back(page);
  }
  return pages;
}

std::vector<int> StripLayout::PagesToHold(int64_t scroll, int viewHeight, int screens,
                                          int64_t budgetPixels) const {
  std::vector<int> pages = PagesInView(scroll, viewHeight);
  if (pages.empty()) return pages;
  const int64_t middle = scroll + viewHeight / 2;
  const auto distance = [&](int page) {
    const int64_t top = m_tops[page], bottom = top + m_heights[page];
    return middle < top ? top - middle : (middle > bottom ? middle - bottom : 0);
  };
  std::stable_sort(pages.begin(), pages.end(),
                   [&](int a, int b) { return distance(a) < distance(b); });
  int64_t spent = 0;  // by the pages beyond those in view
  const int64_t reach = int64_t{std::max(screens, 0)} * viewHeight;
  int below = *std::max_element(pages.begin(), pages.end()) + 1;
  int above = *std::min_element(pages.begin(), pages.end()) - 1;
  bool belowOpen = true, aboveOpen = true;
  // One page below, then one above, each side closing at its reach or when
  // its next page would pass the budget.
  const auto take = [&](int page, bool inReach, bool& open) {
    const int64_t pixels = int64_t{m_column} * m_heights[page];
    if (!inReach || spent + pixels > budgetPixels) {
      open = false;
      return;
    }
    spent += pixels;
    pages.push_back(page);
  };
  while (belowOpen || aboveOpen) {
    belowOpen = belowOpen && below < Count();
    if (belowOpen) {
      take(below, m_tops[below] < scroll + viewHeight + reach, belowOpen);
      ++below;
    }
    aboveOpen = aboveOpen && above >= 0;
    if (aboveOpen) {
      take(above, m_tops[above] + m_heights[above] > scroll - reach, aboveOpen);
      --above;
    }
  }
  return pages;
}

int64_t StripLayout::MaxScroll(int viewHeight) const {
  return std::max<int64_t>(0, Height() - std::max(viewHeight, 0));
}

int64_t StripLayout::Clamp(int64_t scroll, int viewHeight) const {
  return std::clamp<int64_t>(scroll, 0, MaxScroll(viewHeight));
}

StripPlace StripLayout::PlaceAt(int64_t scroll, int viewHeight) const {
  StripPlace place;
  if (m_sizes.empty()) return place;
  const int64_t middle = scroll + std::max(viewHeight, 0) / 2;
  place.page = PageAt(middle);
  const double into = static_cast<double>(middle - m_tops[place.page]);
  place.within = std::clamp(into / m_heights[place.page], 0.0, 1.0);
  return place;
}

int64_t StripLayout::ScrollFor(StripPlace place, int viewHeight) const {
  if (m_sizes.empty()) return 0;
  const int page = std::clamp(place.page, 0, Count() - 1);
  const double within = std::isfinite(place.within) ? std::clamp(place.within, 0.0, 1.0) : 0.0;
  const int64_t middle = m_tops[page] + std::llround(within * m_heights[page]);
  return Clamp(middle - std::max(viewHeight, 0) / 2, viewHeight);
}

int64_t StripLayout::ScrollToPage(int page, int viewHeight) const {
  if (m_sizes.empty()) return 0;
  return Clamp(m_tops[std::clamp(page, 0, Count() - 1)], viewHeight);
}

int StripLayout::ScreenStep(int viewHeight) { return std::max(1, viewHeight - viewHeight / 10); }

}  // namespace inkbrite
