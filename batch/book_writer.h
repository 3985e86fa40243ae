// SPDX-License-Identifier: GPL-2.0-or-later
// The kinds of book a run writes (BatchSettings::books) as rows of one
// table, and the writers of the kinds that are one file:
//
//   kind    file          writer
//   cbz     .cbz          every entry in the book's order (cbz_writer.h)
//   epub    .epub         EPUB 3, fixed layout, a page per picture
//   kepub   .kepub.epub   the EPUB as Kobo's reader takes it
//   pdf     .pdf          a page per picture (qpdf)
//   folder  (a folder)    the converted entries as files
//   skip                  books are left out
//
// A writer is handed the entries that are not pages first, then the
// converted pages in reading order, each with its place in it; an e-book
// or PDF puts them in that order whatever order they came in. Entries that are
// not pages are copied into a CBZ and left out of the others. The book's
// metadata (book_meta.h) goes into the e-book and the PDF. Every writer
// writes into a SafeFileWriter: the caller commits it only when Close
// succeeded, so a failed book leaves no file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "batch/batch_job.h"
#include "batch/book_meta.h"

namespace inkbrite {

class SafeFileWriter;

struct BookKindRow {
  BookOutput output;
  std::string_view name;       // the --books value
  std::string_view extension;  // of the file written; empty: not a file
  // Every page goes in with the bytes the conversion wrote (a PDF takes
  // JPEG pages so and decodes the others into lossless streams).
  bool pagesAsTheyAre;
};

// The reading-order places a source page has room for (see AddPage).
inline constexpr uint64_t kPageOrderStep = uint64_t{1} << 16;

// Every kind, in the order of BookOutput's numbers.
const std::vector<BookKindRow>& BookKindRows();
// The row of `output` (every BookOutput has one).
const BookKindRow& BookKindRowOf(BookOutput output);
// The row named `name`; null when none is.
const BookKindRow* FindBookKindRow(std::string_view name);
// True for the kinds that are one file.
inline bool BookIsOneFile(BookOutput output) { return !BookKindRowOf(output).extension.empty(); }
// True for the kinds whose pages must be JPEG, PNG or GIF (EPUB's
// pictures); a PDF takes any picture the program reads.
bool BookTakesPageExtension(BookOutput output, std::string_view extension);

// How an e-book or PDF is laid out (a device's facts, BatchSettings).
struct BookLayout {
  int pixelsPerInch = 300;  // a PDF page's size: the picture at this density
  bool spreads = false;     // the device shows two pages side by side
};

class BookWriter {
 public:
  virtual ~BookWriter() = default;
  // False when the book cannot be started.
  virtual bool Open() = 0;
  // A converted page, `name` its name in the converted book (folders kept),
  // `order` its place in the reading order (unique, any order): the
  // source page's place times kPageOrderStep, plus which of the pages it
  // became (a split spread's, a strip's).
  virtual bool AddPage(const std::string& name, uint64_t order, const uint8_t* data, size_t size,
                       int64_t mtime) = 0;
  // An entry that is not a page: a file, or a folder when `data` is null.
  virtual bool AddOther(const std::string& name, const uint8_t* data, size_t size,
                        int64_t mtime) = 0;
  // Finishes the book. False on any error so far.
  virtual bool Close() = 0;
  // The title the book is closed with, instead of its metadata's.
  virtual void SetTitle(const std::string& /*title*/) {}
};

// The writer of a kind that is one file, writing into `out` (open).
std::unique_ptr<BookWriter> MakeBookWriter(BookOutput output, SafeFileWriter& out,
                                           const BookMeta& meta, const BookLayout& layout);

// Volume `number` (from 1) of the book written as `output` to `target`:
// "NAME Vol. N.ext" beside it.
std::filesystem::path BookVolumePath(const std::filesystem::path& target, BookOutput output,
                                     size_t number);

// The book's file, or with a size limit its volumes: a book whose file
// would pass `maxBytes` (0: no limit) is written as volumes "NAME Vol. 1.ext",
// "NAME Vol. 2.ext", ..., each a whole book of the kind under the limit:
// the pages in reading order, each volume as many as fit (at least one),
// every entry that is not a page in each, a ComicInfo.xml told its
// volume's pages and title (written last in each volume), the metadata's
// title "TITLE Vol. N". A book that fits stays one file under its own
// name. Each volume is written into a temporary file; Commit renames them
// all into place once every one is whole, and a volume over the limit (a
// page alone larger than it) fails the book (OverLimit).
class BookVolumes final : public BookWriter {
 public:
  BookVolumes(BookOutput output, std::filesystem::path target, BookMeta meta, BookLayout layout,
              uint64_t maxBytes, size_t bookPages);
  ~BookVolumes() override;
  BookVolumes(const BookVolumes&) = delete;
  BookVolumes& operator=(const BookVolumes&) = delete;

  bool Open() override;
  bool AddPage(const std::string& name, uint64_t order, const uint8_t* data, size_t size,
               int64_t mtime) override;
  bool AddOther(const std::string& name, const uint8_t* data, size_t size, int64_t mtime) override;
  bool Close() override;
  // Every volume into place (after Close); false, with none in place, on
  // any error.
  bool Commit();
  // Every temporary file goes.
  void Discard();
  // Whether a ComicInfo.xml given to AddOther is told its pages here (with
  // a limit), not by the caller.
  bool TellsInfoItsPages() const { return m_maxBytes != 0; }
  bool OverLimit() const { return m_overLimit; }
  // The files Commit put in place.
  const std::vector<std::filesystem::path>& Written() const { return m_written; }

 private:
  struct Volume {
    std::unique_ptr<SafeFileWriter> file;
    std::unique_ptr<BookWriter> writer;
    std::vector<uint64_t> pages;  // their places in the reading order
    uint64_t estimate = 0;        // what the file holds at most, closed now
    bool last = false;
    bool closed = false;
    bool committed = false;
  };
  struct Other {
    std::string name;
    std::vector<uint8_t> bytes;
    int64_t mtime = 0;
    bool folder = false;
  };
  std::string VolumeTitle(size_t number) const;
  bool StartVolume();
  bool CloseVolume(Volume& v);
  bool AddOtherToVolume(const Other& other);
  uint64_t InfoBytes() const;
  bool Fail();

  BookOutput m_output;
  std::filesystem::path m_target;
  BookMeta m_meta;
  BookLayout m_layout;
  uint64_t m_maxBytes;
  size_t m_bookPages;
  std::vector<Volume> m_volumes;
  std::vector<Other> m_others;  // in every volume
  std::vector<Other> m_infos;   // the ComicInfo.xml entries, told their volume's pages
  std::vector<std::filesystem::path> m_written;
  bool m_failed = false;
  bool m_overLimit = false;
};

// The e-book and PDF writers (epub_writer.cpp, pdf_writer.cpp).
std::unique_ptr<BookWriter> MakeEpubWriter(SafeFileWriter& out, const BookMeta& meta,
                                           const BookLayout& layout, bool kobo);
std::unique_ptr<BookWriter> MakePdfWriter(SafeFileWriter& out, const BookMeta& meta,
                                          const BookLayout& layout);

}  // namespace inkbrite
