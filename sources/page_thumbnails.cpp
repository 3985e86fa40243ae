// SPDX-License-Identifier: GPL-2.0-or-later
#include "sources/page_thumbnails.h"

#include <algorithm>
#include <exception>
#include <string>
#include <utility>
#include <vector>

#include "formats/image_file.h"
#include "formats/picture_size.h"
#include "formats/thumbnail_image.h"
#include "platform/file_io.h"

namespace inkbrite {

namespace {

// A cached file larger than this is no thumbnail of ours (a 256-pixel
// PNG with its text fields takes well under 1 MiB).
constexpr uint64_t kMaxCachedBytes = 4 << 20;

// A cached thumbnail, read back; false when it is missing, stale or damaged.
// One larger than the largest size we write is stale too, and is never
// decoded: the cache is anyone's to write, and a small file may claim a huge
// picture.
bool ReadCached(const std::filesystem::path& file, const ThumbnailSource& source,
                DibImage& thumbnail) {
  std::vector<uint8_t> bytes;
  if (!ReadFileBytes(file, kMaxCachedBytes, bytes)) return false;
  PictureSize size;
  const int32_t largest = ThumbnailPixels(ThumbnailSize::kLarge);
  if (!ReadPictureSize(bytes.data(), bytes.size(), size) || size.width > largest ||
      size.height > largest) {
    return false;
  }
  if (!IsThumbnailCurrent(file, source)) return false;
  int grey = 0;
  return LoadImageMemory(bytes.data(), bytes.size(), file.filename().string(), thumbnail, &grey) !=
             0 &&
         thumbnail.Is24Bit();
}

void WriteCached(const std::filesystem::path& file, const ThumbnailSource& source,
                 const DibImage& thumbnail) {
  const std::string png =
      EncodePngWithText(thumbnail, {{"Thumb::URI", source.uri},
                                    {"Thumb::MTime", std::to_string(source.mtime)},
                                    {"Thumb::Size", std::to_string(source.size)},
                                    {"Software", "Inkbrite"}});
  // A cache that cannot be written only costs the next run a remake.
  if (!png.empty()) WriteCacheFile(file, png);
}

// Records that no reader takes the file: a 1 x 1 picture with the file's
// URI and time.
void WriteFailed(const std::filesystem::path& file, const ThumbnailSource& source) {
  DibImage dot;
  if (!dot.Create(1, 1, 24)) return;
  std::fill_n(dot.Row(0), 3, uint8_t{0xFF});
  const std::string png = EncodePngWithText(dot, {{"Thumb::URI", source.uri},
                                                  {"Thumb::MTime", std::to_string(source.mtime)},
                                                  {"Software", "Inkbrite"}});
  if (!png.empty()) WriteCacheFile(file, png);
}

}  // namespace

ThumbnailOrigin PageThumbnail(PageSource& source, size_t index, ThumbnailSize size,
                              DibImage& thumbnail) {
  if (index >= source.PageCount()) return ThumbnailOrigin::kFailed;
  const PageEntry& entry = source.Pages()[index];
  const int32_t box = ThumbnailPixels(size);
  try {
    // What the cached thumbnail must record, and where it is kept.
    std::optional<ThumbnailSource> record;
    std::filesystem::path cached;
    if (source.IsBook()) {
      if (std::optional<ThumbnailSource> book = DescribeFile(source.Path())) {
        record = ThumbnailSource{BookPageUri(*book, entry.name), book->mtime, entry.size};
        cached = BookPageThumbnailPath(*book, entry.name, size);
      }
    } else if (!IsInThumbnailCache(entry.path)) {
      record = DescribeFile(entry.path);
      if (record) cached = SharedThumbnailPath(record->uri, size);
    }
    if (record && ReadCached(cached, *record, thumbnail)) return ThumbnailOrigin::kCache;
    // A loose file found unreadable before, unchanged since.
    std::filesystem::path failed;
    if (record && !source.IsBook()) {
      failed = FailedThumbnailPath(record->uri);
      if (IsThumbnailCurrent(failed, *record)) {
        thumbnail.Clear();
        return ThumbnailOrigin::kFailed;
      }
    }

    std::vector<uint8_t> bytes;
    bool made = false;
    if (source.ReadPage(index, bytes) == SourceError::kNone) {
      made = MakeThumbnail(bytes.data(), bytes.size(), entry.name, box, thumbnail);
      // Read, but no reader takes it (a file that could not be read at all
      // may be readable later without changing).
      if (!made && !failed.empty()) WriteFailed(failed, *record);
    } else if (source.IsBook()) {
      // A page without file bytes of its own (a PDF page) is decoded whole.
      bytes = {};
      int grey = 0;
      made = source.LoadPage(index, thumbnail, &grey) == SourceError::kNone &&
             ShrinkToFit(thumbnail, box);
    }
    if (!made) {
      thumbnail.Clear();
      return ThumbnailOrigin::kFailed;
    }
    if (record) WriteCached(cached, *record, thumbnail);
    if (!failed.empty()) {
      std::error_code ignored;
      std::filesystem::remove(failed, ignored);  // a stale record
    }
    return ThumbnailOrigin::kMade;
  } catch (const std::exception&) {  // no memory
    thumbnail.Clear();
    return ThumbnailOrigin::kFailed;
  }
}

}  // namespace inkbrite
