// SPDX-License-Identifier: GPL-2.0-or-later
// A page list over either a folder or a book: what the viewer's page
// commands, the display-order dialog and the batch job share.
//
//   folder: the picture files of one folder (the viewer's folder list: the
//           patterns of ReadablePatterns(), no subfolders), in the walk's
//           order (byte order of the names); the viewer sorts them by its
//           display order.
//   book:   an archive (zip, RAR 4 and 5, 7z, tar: .cbz .cbr .cb7 .cbt and
//           .zip .rar .7z .tar) or a PDF file; its pages are its picture
//           entries in natural order (sources/natural_order.h), a PDF's
//           pages are its pages. See sources/book_source.h.
//
// A source is opened once and then read page by page: ReadPage gives a
// page's file bytes, LoadPage decodes it into a 24-bit picture with the
// readers of the format table. Nothing is unpacked to disk.
//
// Typical use (the viewer):
//
//   SourceError error;
//   std::unique_ptr<PageSource> source = OpenPageSource(path, error);
//   if (!source) ShowMessage(SourceErrorText(error, ...));
//   DibImage page; int grey = 0;
//   if (source->LoadPage(i, page, &grey) != SourceError::kNone) ...;  // "文件读取失败。"
//   source->ReadAhead(i);  // on a background thread: the next pages' bytes
//
// Threads: the methods of one source may be called from several threads
// (a book serialises its reads with a lock of its own: a call waits for at
// most one page being read); Pages() never changes after opening.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/dib_image.h"
#include "core/jpeg_cleanup.h"
#include "formats/detect.h"
#include "platform/read_status.h"
#include "sources/comic_info.h"
#include "sources/source_texts.h"

namespace inkbrite {

enum class SourceKind : uint8_t { kFolder, kBook };

// One page of a source.
struct PageEntry {
  // UTF-8, for display and the display order: a folder page's file name; a
  // book page's entry path inside the book ("Chapter 2/01.jpg", '/'
  // separators); a PDF page's number ("1", "2", ...).
  std::string name;
  uint64_t size = 0;  // bytes of the file or of the unpacked entry (0 for a PDF page)
  // A Windows file time (100 ns units since 1601-01-01 UTC), as the walker's
  // FindData::creationTime: a folder page's creation time, a book entry's
  // modification time; 0 when unknown.
  uint64_t time = 0;
  std::filesystem::path path;  // a folder page's full path; empty in a book
};

class PageSource {
 public:
  virtual ~PageSource() = default;
  PageSource(const PageSource&) = delete;
  PageSource& operator=(const PageSource&) = delete;

  SourceKind Kind() const { return m_kind; }
  bool IsBook() const { return m_kind == SourceKind::kBook; }
  // The folder, or the book's file.
  const std::filesystem::path& Path() const { return m_path; }
  const std::vector<PageEntry>& Pages() const { return m_pages; }
  size_t PageCount() const { return m_pages.size(); }
  // The page named `name` (PageEntry::name, compared exactly); npos when none.
  size_t FindPage(std::string_view name) const;

  // A book's ComicInfo.xml (read the first time it is asked for); nothing
  // (present false) for a folder or a book without one.
  virtual ComicInfo Info() { return {}; }

  // Page `index`'s file bytes, at most kMaxPageFileBytes. A PDF page has
  // none (kPageUnreadable); use LoadPage.
  virtual SourceError ReadPage(size_t index, std::vector<uint8_t>& bytes) = 0;
  // Page `index` decoded: kNone with the picture and *greySource (1 for a
  // grey or bilevel source), or why not (kPageUnreadable for bytes no
  // reader takes, the reader's own reason in *status when asked for).
  // With `jpeg`, a JPEG page's own luminance table, read from the bytes
  // decoded (nothing for another format or a PDF page).
  virtual SourceError LoadPage(size_t index, DibImage& image, int* greySource, ReadStatus* status,
                               std::optional<JpegQuantisers>* jpeg) = 0;
  SourceError LoadPage(size_t index, DibImage& image, int* greySource, ReadStatus* status) {
    return LoadPage(index, image, greySource, status, nullptr);
  }
  SourceError LoadPage(size_t index, DibImage& image, int* greySource) {
    return LoadPage(index, image, greySource, nullptr, nullptr);
  }
  // Reads the pages after `index` (and keeps the one before) within the
  // read-ahead budget, so that the next page turns find their bytes in
  // memory. For a book; a folder does nothing.
  virtual void ReadAhead(size_t /*index*/) {}

 protected:
  PageSource(SourceKind kind, std::filesystem::path path) : m_kind(kind), m_path(std::move(path)) {}

  std::vector<PageEntry> m_pages;

 private:
  SourceKind m_kind;
  std::filesystem::path m_path;
};

// The picture files of `folder` (none when it is missing), matched by
// `patterns` (empty: ReadablePatterns()).
std::unique_ptr<PageSource> OpenFolderSource(const std::filesystem::path& folder,
                                             std::string_view patterns = {});

// A folder (as OpenFolderSource), or a book file (as OpenBookSource in
// sources/book_source.h). A picture file gives its folder. Null with
// `error` set when nothing is there or a book cannot be opened.
std::unique_ptr<PageSource> OpenPageSource(const std::filesystem::path& path, SourceError& error);

// The book row (kFormatZipBook, ...) of a file: by its content (the
// signatures of the format table's book rows, and a tar file's "ustar"
// mark), else by its name's extension when its content is no picture
// format's; kFormatUnknown for anything else. A CBR that is really a zip is
// kFormatZipBook.
ImageFormat BookKindOf(const std::filesystem::path& path);
// The same on a file probed already (formats/file_probe.h).
ImageFormat BookKindOf(FileProbe& file);
inline bool IsBookFile(const std::filesystem::path& path) {
  return BookKindOf(path) != kFormatUnknown;
}

// A Windows file time from seconds since 1970-01-01 UTC (0 stays 0).
uint64_t WindowsFileTime(int64_t unixSeconds);

}  // namespace inkbrite
