// SPDX-License-Identifier: GPL-2.0-or-later
// Where page thumbnails are kept, and whether a kept one is still good.
//
// A loose picture file's thumbnail goes into the desktop's shared thumbnail
// cache, so file managers and other viewers use ours and we use theirs:
// $XDG_CACHE_HOME/thumbnails/normal (at most 128 pixels a side) or /large
// (256), named by the MD5 of the file's URI (lower-case hex) plus ".png".
// The PNG carries the text fields Thumb::URI (the file's URI), Thumb::MTime
// (its modification time in whole seconds), Thumb::Size (its size in bytes)
// and Software. A thumbnail whose URI or MTime (or Size, where given) no
// longer matches the file is stale and made again.
//
// A page inside a book has no URI of its own there: its thumbnail goes into
// the program's own cache, $XDG_CACHE_HOME/inkbrite/thumbnails/normal or
// /large, named by the MD5 of the book's URI, its modification time and the
// entry's name, so a changed book never shows its old pages.
//
// A loose file that no reader can read gets a failure record instead, in
// $XDG_CACHE_HOME/thumbnails/fail/inkbrite-<version> (named as its thumbnail
// would be): a small PNG with Thumb::URI and Thumb::MTime, so that it is not
// read again at every visit. A record whose MTime is not the file's is
// stale: the file is read again.
//
// Files are written whole under a temporary name and renamed into place,
// readable by the user alone (folders 0700, files 0600).
//
// Threads: any; nothing is shared.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace inkbrite {

enum class ThumbnailSize { kNormal, kLarge };

// The longest side of a thumbnail of that size: 128 or 256.
int ThumbnailPixels(ThumbnailSize size);

// $XDG_CACHE_HOME when it is an absolute path, else $HOME/.cache.
std::filesystem::path CacheHome();

// "file://" and the absolute path with every byte outside the letters,
// digits and -_.!~*'()/&=:@+$, escaped as %XX (upper-case hex), as desktop
// programs spell a file's URI for the thumbnail names.
std::string FileUri(const std::filesystem::path& path);

// What a thumbnail records about its source.
struct ThumbnailSource {
  std::string uri;
  int64_t mtime = 0;  // seconds since 1970
  uint64_t size = 0;  // bytes
};

// The URI, modification time and size of a file; nothing when it cannot be
// examined.
std::optional<ThumbnailSource> DescribeFile(const std::filesystem::path& file);

// The shared cache's file for a loose picture file, and the program's own
// for a book's page.
std::filesystem::path SharedThumbnailPath(std::string_view uri, ThumbnailSize size);
std::filesystem::path BookPageThumbnailPath(const ThumbnailSource& book, std::string_view entry,
                                            ThumbnailSize size);
// The failure record's file for a loose picture file no reader can read.
std::filesystem::path FailedThumbnailPath(std::string_view uri);
// The URI recorded in a book page's thumbnail: the book's URI, "#" and the
// entry's name escaped as a path is.
std::string BookPageUri(const ThumbnailSource& book, std::string_view entry);

// The uncompressed text fields (tEXt chunks) of a PNG file, keyword to
// text; empty when the file is missing or is no PNG. Reading stops at the
// image data's end or at a damaged chunk.
std::map<std::string, std::string> ReadPngTextFields(const std::filesystem::path& png);

// True when `thumbnail` exists and its fields name `source` as it is now:
// the same URI and MTime, and the same Size when it records one.
bool IsThumbnailCurrent(const std::filesystem::path& thumbnail, const ThumbnailSource& source);

// Writes `bytes` to `target` under a temporary name in its folder and
// renames it into place (mode 0600), making the folders (0700) first.
// False, with nothing left behind, on any failure.
bool WriteCacheFile(const std::filesystem::path& target, std::string_view bytes);

// True when `path` lies inside a thumbnail cache (thumbnails are never made
// of thumbnails).
bool IsInThumbnailCache(const std::filesystem::path& path);

}  // namespace inkbrite
