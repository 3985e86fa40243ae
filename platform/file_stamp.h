// SPDX-License-Identifier: GPL-2.0-or-later
// When a file was created and how large it is, as the directory list and the
// batch job record them.
#pragma once

#include <cstdint>
#include <filesystem>

namespace inkbrite {

struct FileStamp {
  uint64_t creationTime = 0;  // 100 ns units since 1601 (Windows file time)
  uint64_t size = 0;
};

// The birth time where the file system keeps one (ext4, btrfs, xfs, tmpfs,
// NTFS), else the modification time. False when the file cannot be examined.
bool ReadFileStamp(const std::filesystem::path& path, FileStamp& stamp);

// Seconds and nanoseconds since 1970 as 100 ns units since 1601, clamped to
// the unsigned range.
uint64_t ToFileTime(int64_t seconds, uint32_t nanoseconds);

}  // namespace inkbrite
