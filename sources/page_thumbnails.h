// SPDX-License-Identifier: GPL-2.0-or-later
// The thumbnail of a page of a folder or a book, from the cache when the
// cached one is current, else made from the page and kept in the cache
// (platform/thumbnail_cache.h: the shared cache for a loose file, the
// program's own for a book's page). A loose file whose bytes no reader takes
// gets a failure record there and is not read again until it changes.
//
// Threads: any; a book's reads take the book's own lock.
#pragma once

#include <cstddef>

#include "core/dib_image.h"
#include "platform/thumbnail_cache.h"
#include "sources/page_source.h"

namespace inkbrite {

enum class ThumbnailOrigin {
  kCache,   // read from a current cached thumbnail
  kMade,    // made from the page (and written to the cache when it could be)
  kFailed,  // the page could not be read: no thumbnail
};

// The thumbnail of page `index` of `source` (fitting the size's square).
ThumbnailOrigin PageThumbnail(PageSource& source, size_t index, ThumbnailSize size,
                              DibImage& thumbnail);

}  // namespace inkbrite
