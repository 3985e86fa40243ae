// SPDX-License-Identifier: GPL-2.0-or-later
// The two-page view: which pages of a list face each other, and the picture
// of two facing pages side by side.
//
// Pairing, over the list in display order: a wide page (wider than tall,
// already a double page) stands alone; every other page is paired with the
// page after it unless that one is wide or missing. With "cover alone" the
// first page stands alone too. The pages after a lone page pair up afresh
// from the next page, so a wide page never shifts the pairing that follows
// it. A page whose shape is not known yet counts as upright.
//
// Threads: any (pure functions).
#pragma once

#include <cstdint>
#include <vector>

#include "core/dib_image.h"

namespace inkbrite {

enum class PageShape : uint8_t { kUnknown, kUpright, kWide };

PageShape ShapeOf(const DibImage& page);

// Pages shown together: `count` (1 or 2) list positions from `first` (0-based).
struct Facing {
  int first = 0;
  int count = 1;
  int last() const { return first + count - 1; }
  friend bool operator==(const Facing&, const Facing&) = default;
};

// Every spread of a list whose pages have `shapes`, in order.
std::vector<Facing> PairPages(const std::vector<PageShape>& shapes, bool coverAlone);
// The spread holding list position `position` (a lone page outside the list).
Facing FacingAt(const std::vector<PageShape>& shapes, bool coverAlone, int position);

// The two pages side by side on a white ground, each centred on the taller
// one's height: `first` (earlier in reading order) on the left, or on the
// right when `rightToLeft`. False when the picture does not fit in memory.
bool ComposeFacing(const DibImage& first, const DibImage& second, bool rightToLeft, DibImage& out);

}  // namespace inkbrite
