// SPDX-License-Identifier: GPL-2.0-or-later
// The state of the Caps Lock and Num Lock keys, for the status bar's two
// lock panes. Read from the X server's keyboard state when the viewer runs
// on X11; other platforms (and the offscreen platform of the tests) cannot
// tell, and the panes then stay empty.
//
// Threads: user-interface thread only.
#pragma once

#include <optional>

namespace inkbrite {

struct KeyLocks {
  bool caps = false;
  bool num = false;
};

// The current lock state, or nothing where the platform cannot tell.
std::optional<KeyLocks> ReadKeyLocks();

}  // namespace inkbrite
