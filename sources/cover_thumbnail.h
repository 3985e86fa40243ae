// SPDX-License-Identifier: GPL-2.0-or-later
// A file's cover as a small PNG, for the desktop's thumbnailer
// (inkbrite-thumbnailer, dist/inkbrite.thumbnailer): a book's first page in
// reading order (CBZ, CBR, CB7, CBT, PDF), or a picture file of any format
// the readers take, shrunk to fit a `size` x `size` square (never
// enlarged), read within the readers' and the books' limits.
//
// Threads: any; nothing is shared.
#pragma once

#include <filesystem>
#include <string>

namespace inkbrite {

inline constexpr int kMaxCoverThumbnailSize = 1024;

enum class CoverResult {
  kWritten,
  kNoCover,      // not a book or picture we read, or its first page is unreadable
  kWriteFailed,  // the PNG could not be written (nothing left behind)
};

// Writes the cover of `input` as a PNG file `output` (safely: a temporary
// file renamed into place). `size` is held to 1 .. kMaxCoverThumbnailSize.
// `why` gets the reason of a failure in words.
CoverResult WriteCoverThumbnail(const std::filesystem::path& input,
                                const std::filesystem::path& output, int size, std::string& why);

}  // namespace inkbrite
