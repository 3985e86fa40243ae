// SPDX-License-Identifier: GPL-2.0-or-later
// Opening a file with the desktop's default application.
#pragma once

#include <filesystem>

namespace inkbrite {

// Hands `path` to xdg-open (the desktop's "open" for a file) and returns
// without waiting for the application. False when the file does not exist or
// xdg-open cannot be started; what the application then does is not known.
bool OpenWithShell(const std::filesystem::path& path);

}  // namespace inkbrite
