// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/page_memory.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace inkbrite {

void TunePageMemory() {
#if defined(__GLIBC__)
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  mallopt(M_TRIM_THRESHOLD, 1 << 30);
#endif
}

}  // namespace inkbrite
