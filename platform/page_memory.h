// SPDX-License-Identifier: GPL-2.0-or-later
// Allocator settings for programs that handle one large page after another.
#pragma once

namespace inkbrite {

// Keeps page-sized blocks on the heap (up to the largest threshold glibc
// takes, 32 MiB) and keeps freed memory for the next page, so each page does
// not pay again for fresh zeroed memory from the kernel. Call once at the
// start of main(). True when the settings took; false where the C library
// has no such settings (or refused them).
bool TunePageMemory();

}  // namespace inkbrite
