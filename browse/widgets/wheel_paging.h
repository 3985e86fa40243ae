// SPDX-License-Identifier: GPL-2.0-or-later
// The mouse wheel as comic readers use it: it scrolls the page, and once the
// page is scrolled to its end a further turn in the same direction turns
// the page (down at the bottom: the next page; up at the top: the previous
// one). The turn that brings the page to its end only scrolls, so a reader
// is never carried past the last rows. A page that fits the window is at
// both ends: every notch turns a page. Fine-grained wheels and touchpads
// deliver a notch in parts; a page turns once they add up to a notch.
//
// Threads: user-interface thread only.
#pragma once

namespace inkbrite {

class WheelPager {
 public:
  enum class Action { kScroll, kWait, kNextPage, kPreviousPage };

  // One wheel event: `delta` in eighths of a degree (120 a notch, positive
  // away from the user, up), and whether the page was at its top or bottom
  // before the event. kScroll: scroll the page as usual; kWait: at the end,
  // not yet a notch.
  Action OnWheel(int delta, bool atTop, bool atBottom);
  // Forgets a part notch (the page changed, or was scrolled by other means).
  void Reset() { m_pending = 0; }

  static constexpr int kNotch = 120;

 private:
  int m_pending = 0;  // eighths of a degree turned at an end
};

}  // namespace inkbrite
