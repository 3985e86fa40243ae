// SPDX-License-Identifier: GPL-2.0-or-later
// The viewer's own state files (its settings, the reading places) are read
// through QSettings, which opens whatever the path names and reads it
// whole: a FIFO there would block the viewer before it paints, a device or
// a huge file would be read without end. Before such a file is first read
// it is checked: anything but a regular file within kMaxStateFileBytes is
// set aside under a name of its own (kept, never deleted) and the viewer
// starts afresh with its defaults.
#pragma once

#include <QString>
#include <cstdint>
#include <filesystem>

namespace inkbrite {

inline constexpr uint64_t kMaxStateFileBytes = uint64_t{64} << 20;

// True when `file` may be read: missing, or a regular file (a link to one
// is followed) of at most `maxBytes`. Anything else is renamed to
// "NAME.set-aside-TIME" first (true once it is out of the way; false when
// it could not be moved, and then it must not be read).
bool MakeStateFileSafe(const std::filesystem::path& file, uint64_t maxBytes = kMaxStateFileBytes);

// The file QSettings() uses for the program's settings (organisation and
// application names set), computed without opening it.
QString SettingsFilePath();

}  // namespace inkbrite
