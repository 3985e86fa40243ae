// SPDX-License-Identifier: GPL-2.0-or-later
// Running out of memory in a program that converts one file after another.
#pragma once

namespace inkbrite {

// Makes running out of memory fail the file being converted, never the
// program: sets aside a reserve and installs a new-handler that gives it
// back and throws std::bad_alloc, so the failing file's clean-up (its
// temporary files removed, its record line written) has memory to run in.
// Call once at the start of main().
void InstallOutOfMemoryHandler();
// Sets the reserve aside again after it was given back (nothing when it is
// held); true when it is held.
bool RenewMemoryReserve();
bool MemoryReserveHeld();

}  // namespace inkbrite
