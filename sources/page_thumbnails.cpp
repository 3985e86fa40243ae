// SPDX-License-Identifier: GPL-2.0-or-later
#include "sources/page_thumbnails.h"

#include <exception>
#include <string>
#include <utility>
#include <vector>

#include "formats/image_file.h"
#include "formats/thumbnail_image.h"

namespace inkbrite {

namespace {

// A cached thumbnail, read back; false when it is missing, stale or damaged.
bool ReadCached(const std::filesystem::path& file, const ThumbnailSource& source,
                DibImage& thumbnail) {
  if (!IsThumbnailCurrent(file, source)) return false;
  int grey = 0;
  return LoadImageFile(file, thumbnail, &grey) != 0 && thumbnail.Is24Bit();
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

    std::vector<uint8_t> bytes;
    bool made = false;
    if (source.ReadPage(index, bytes) == SourceError::kNone) {
      made = MakeThumbnail(bytes.data(), bytes.size(), entry.name, box, thumbnail);
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
    return ThumbnailOrigin::kMade;
  } catch (const std::exception&) {  // no memory
    thumbnail.Clear();
    return ThumbnailOrigin::kFailed;
  }
}

}  // namespace inkbrite
