// SPDX-License-Identifier: GPL-2.0-or-later
#include "browse/widgets/wheel_paging.h"

namespace inkbrite {

WheelPager::Action WheelPager::OnWheel(int delta, bool atTop, bool atBottom) {
  if (delta == 0) return Action::kWait;
  const bool down = delta < 0;
  if (down ? !atBottom : !atTop) {
    m_pending = 0;
    return Action::kScroll;
  }
  // A change of direction at an end starts the count again.
  if ((m_pending < 0) != down) m_pending = 0;
  m_pending += delta;
  if (m_pending > -kNotch && m_pending < kNotch) return Action::kWait;
  m_pending = 0;
  return down ? Action::kNextPage : Action::kPreviousPage;
}

}  // namespace inkbrite
