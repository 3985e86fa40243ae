// SPDX-License-Identifier: GPL-2.0-or-later
// A book: an archive or a PDF file read as a page list (sources/page_source.h).
//
// Opening a book lists it (sources/archive_reader.h, sources/pdf_reader.h)
// and holds the listing to the limits of sources/book_limits.h before any
// page is read: too many entries, a page entry that declares more than a
// page can be, pages that together declare more than kMaxBookBytes or far
// more than the archive could hold (kMaxBookRatio) refuse the book; so do
// encrypted pages, a part of a multi-volume archive and an archive without
// a single page. Its pages are its regular file entries that pass the page
// rule (IsPageEntryName: a picture extension, nothing hidden, not under
// __MACOSX/) and whose names stay inside the book, in natural order of
// their full paths. Entries named "../x" or "/x" and links are never pages
// and never handed out for writing (IsUnsafeEntryName).
//
// Reading: a page is read into memory straight from the archive. The book
// keeps what the next page turns need: ReadAhead reads the pages after the
// one shown into memory (at most kReadAheadPages pages and kReadAheadBytes
// bytes, keeping the page before too; refilled when half of them are used
// up), and every page entry that a read
// passes on its way to another is kept if it is one of those pages. So
// paging forward through a solid RAR or a 7z book never unpacks it from the
// start again, whatever order the archive stores its pages in; jumping back
// beyond the pages kept starts again from the archive's start (seeking over
// what it can).
//
// Threads: every read takes the book's lock, so ReadAhead may run on a
// background thread while the user-interface thread calls LoadPage; a call
// waits for at most one entry being read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "sources/archive_reader.h"
#include "sources/page_source.h"

namespace inkbrite {

class PdfReader;

// One entry of a book in the archive's order.
struct BookEntry {
  ArchiveEntry entry;    // a PDF page: name "1", "2", ..., a file of unknown size
  bool page = false;     // one of the book's pages
  size_t pageIndex = 0;  // its position in Pages() when `page`
};

class BookSource : public PageSource {
 public:
  ~BookSource() override;

  // Opens `path` (or bytes in memory that outlive the book, `nameHint`
  // standing for the file's name). Null with `error` set when the book is
  // refused.
  static std::unique_ptr<BookSource> Open(const std::filesystem::path& path, SourceError& error);
  static std::unique_ptr<BookSource> OpenMemory(const uint8_t* data, size_t size,
                                                SourceError& error);
  // A folder of loose pages read as one book: the files `names` of
  // `folder` (names without a folder; those that fail the page rule are
  // left out) in natural order, and the folder's ComicInfo.xml, if any, as
  // its one other entry. kNoPages when no page is left.
  static std::unique_ptr<BookSource> OpenFolder(const std::filesystem::path& folder,
                                                const std::vector<std::string>& names,
                                                SourceError& error);

  // The container found by content: kFormatZipBook, kFormatRarBook,
  // kFormat7zBook, kFormatTarBook or kFormatPdfBook (kFormatUnknown: a
  // folder, OpenFolder).
  ImageFormat Container() const { return m_container; }
  bool IsPdf() const { return m_container == kFormatPdfBook; }
  // Entries can only be unpacked in order (solid RAR, 7z).
  bool InOrderOnly() const;
  // Every entry in the archive's order; a PDF file's pages.
  const std::vector<BookEntry>& Entries() const { return m_entries; }
  size_t EntryOfPage(size_t page) const { return m_entryOfPage[page]; }
  // A PDF's page `page` as the listing says it is drawn, in pixels; 0 for
  // an archive's page (its size is in its file's header).
  uint64_t DrawnPixels(size_t page) const;

  ComicInfo Info() override;
  SourceError ReadPage(size_t index, std::vector<uint8_t>& bytes) override;
  using PageSource::LoadPage;
  SourceError LoadPage(size_t index, DibImage& image, int* greySource, ReadStatus* status,
                       std::optional<JpegQuantisers>* jpeg) override;
  void ReadAhead(size_t index) override;

  // Entry `index`'s bytes (a file, at most `maxBytes`; unsafe names and
  // links give kUnsafeName). Read without the read-ahead (the batch job
  // reads every entry once, in order).
  SourceError ReadEntry(size_t index, uint64_t maxBytes, std::vector<uint8_t>& bytes);

  // The read-ahead's limits (kReadAheadBytes, kReadAheadPages unless
  // changed).
  void SetReadAhead(uint64_t bytes, size_t pages);
  // How often the archive was read from its start since opening (listing
  // not counted), and the bytes the read-ahead holds: for the tests and
  // the benchmarks.
  size_t Restarts() const;
  uint64_t ReadAheadHeld() const;

 private:
  explicit BookSource(std::filesystem::path path);
  SourceError OpenArchive(const uint8_t* data, size_t size);
  SourceError OpenPdf(const uint8_t* data, size_t size);
  SourceError ReadFolderFile(size_t entry, uint64_t maxBytes, std::vector<uint8_t>& bytes) const;
  SourceError TakeListing();
  SourceError CheckLimits() const;
  SourceError ReadPageLocked(size_t page, std::vector<uint8_t>& bytes);
  bool WantedAhead(size_t page) const;
  void Keep(size_t page, const std::vector<uint8_t>& bytes);
  void TrimKept();

  mutable std::mutex m_mutex;  // the readers and everything below
  ImageFormat m_container = kFormatUnknown;
  std::unique_ptr<ArchiveReader> m_archive;
  std::unique_ptr<PdfReader> m_pdf;
  bool m_folder = false;  // OpenFolder: entries are the folder's files
  std::vector<BookEntry> m_entries;
  std::vector<size_t> m_entryOfPage;
  std::optional<ComicInfo> m_info;
  // The read-ahead: pages kept by index, around the page last asked for.
  std::map<size_t, std::vector<uint8_t>> m_kept;
  uint64_t m_keptBytes = 0;
  size_t m_current = 0;
  uint64_t m_aheadBytes;
  size_t m_aheadPages;
};

// Opens a book file (see BookSource::Open).
inline std::unique_ptr<BookSource> OpenBookSource(const std::filesystem::path& path,
                                                  SourceError& error) {
  return BookSource::Open(path, error);
}

}  // namespace inkbrite
