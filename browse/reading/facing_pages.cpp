// SPDX-License-Identifier: GPL-2.0-or-later
#include "browse/reading/facing_pages.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace inkbrite {

PageShape ShapeOf(const DibImage& page) {
  if (page.IsEmpty()) return PageShape::kUnknown;
  return page.Width() > page.Height() ? PageShape::kWide : PageShape::kUpright;
}

std::vector<Facing> PairPages(const std::vector<PageShape>& shapes, bool coverAlone) {
  std::vector<Facing> spreads;
  const int count = static_cast<int>(shapes.size());
  const auto wide = [&](int i) { return shapes[static_cast<size_t>(i)] == PageShape::kWide; };
  for (int i = 0; i < count;) {
    const bool alone = (coverAlone && i == 0) || wide(i) || i + 1 >= count || wide(i + 1);
    spreads.push_back({i, alone ? 1 : 2});
    i += alone ? 1 : 2;
  }
  return spreads;
}

Facing FacingAt(const std::vector<PageShape>& shapes, bool coverAlone, int position) {
  for (const Facing& f : PairPages(shapes, coverAlone)) {
    if (position >= f.first && position <= f.last()) return f;
  }
  return {position, 1};
}

bool ComposeFacing(const DibImage& first, const DibImage& second, bool rightToLeft, DibImage& out) {
  const DibImage& left = rightToLeft ? second : first;
  const DibImage& right = rightToLeft ? first : second;
  const int32_t height = std::max(left.Height(), right.Height());
  try {
    DibImage both;
    if (!both.Create(left.Width() + right.Width(), height, 24)) return false;
    for (int32_t y = 0; y < height; ++y) std::memset(both.Row(y), 0xFF, size_t(both.Width()) * 3);
    const auto place = [&](const DibImage& page, int32_t x0) {
      DibImage copy;
      const DibImage* source = &page;
      if (page.BitCount() != 24) {
        copy = page;
        copy.ConvertTo24Bit();
        source = &copy;
      }
      const int32_t y0 = (height - source->Height()) / 2;
      for (int32_t y = 0; y < source->Height(); ++y) {
        std::memcpy(both.Row(y0 + y) + size_t(x0) * 3, source->Row(y), size_t(source->Width()) * 3);
      }
    };
    place(left, 0);
    place(right, left.Width());
    out = std::move(both);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

}  // namespace inkbrite
