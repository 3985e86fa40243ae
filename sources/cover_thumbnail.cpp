// SPDX-License-Identifier: GPL-2.0-or-later
#include "sources/cover_thumbnail.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "formats/thumbnail_image.h"
#include "platform/file_io.h"
#include "sources/book_limits.h"
#include "sources/book_source.h"
#include "sources/page_source.h"
#include "sources/source_texts.h"

namespace inkbrite {

namespace fs = std::filesystem;

namespace {

// The cover picture of a book: its first page, a PDF's drawn by the helper.
bool BookCover(const fs::path& input, int size, DibImage& cover, std::string& why) {
  SourceError error = SourceError::kNone;
  const std::unique_ptr<BookSource> book = OpenBookSource(input, error);
  if (!book || book->PageCount() == 0) {
    why = std::string(SourceErrorText(error == SourceError::kNone ? SourceError::kNoPages : error,
                                      BookKindOf(input) == kFormatPdfBook));
    return false;
  }
  if (book->IsPdf()) {
    const SourceError failed = book->LoadPage(0, cover, nullptr);
    if (failed == SourceError::kNone && ShrinkToFit(cover, size)) return true;
    why = std::string(SourceErrorText(failed, true));
    return false;
  }
  std::vector<uint8_t> bytes;
  const SourceError failed = book->ReadPage(0, bytes);
  if (failed == SourceError::kNone &&
      MakeThumbnail(bytes.data(), bytes.size(), book->Pages()[0].name, size, cover)) {
    return true;
  }
  why = std::string(
      SourceErrorText(failed == SourceError::kNone ? SourceError::kPageUnreadable : failed, false));
  return false;
}

}  // namespace

CoverResult WriteCoverThumbnail(const fs::path& input, const fs::path& output, int size,
                                std::string& why) {
  size = std::clamp(size, 1, kMaxCoverThumbnailSize);
  DibImage cover;
  if (IsBookFile(input)) {
    if (!BookCover(input, size, cover, why)) return CoverResult::kNoCover;
  } else {
    std::vector<uint8_t> bytes;
    if (!ReadFileBytes(input, kMaxPageFileBytes, bytes) ||
        !MakeThumbnail(bytes.data(), bytes.size(), input.filename().string(), size, cover)) {
      why = std::string(SourceErrorText(SourceError::kPageUnreadable, false));
      return CoverResult::kNoCover;
    }
  }
  const std::string png = EncodePngWithText(cover, {{"Software", "inkbrite-thumbnailer"}});
  if (png.empty() || !WriteFileBytesSafely(output, png.data(), png.size())) {
    why = "cannot write " + output.string();
    return CoverResult::kWriteFailed;
  }
  return CoverResult::kWritten;
}

}  // namespace inkbrite
