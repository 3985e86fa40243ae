// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/page_memory.h"

// A C library header first: it is what defines __GLIBC__.
#include <cstdlib>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace inkbrite {

bool TunePageMemory() {
#if defined(__GLIBC__)
  const bool threshold = mallopt(M_MMAP_THRESHOLD, 32 << 20) == 1;
  const bool trim = mallopt(M_TRIM_THRESHOLD, 1 << 30) == 1;
  return threshold && trim;
#else
  return false;
#endif
}

}  // namespace inkbrite
