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
  // `order` its place in the reading order (unique, any order).
  virtual bool AddPage(const std::string& name, uint64_t order, const uint8_t* data, size_t size,
                       int64_t mtime) = 0;
  // An entry that is not a page: a file, or a folder when `data` is null.
  virtual bool AddOther(const std::string& name, const uint8_t* data, size_t size,
                        int64_t mtime) = 0;
  // Finishes the book. False on any error so far.
  virtual bool Close() = 0;
};

// The writer of a kind that is one file, writing into `out` (open).
std::unique_ptr<BookWriter> MakeBookWriter(BookOutput output, SafeFileWriter& out,
                                           const BookMeta& meta, const BookLayout& layout);

// The e-book and PDF writers (epub_writer.cpp, pdf_writer.cpp).
std::unique_ptr<BookWriter> MakeEpubWriter(SafeFileWriter& out, const BookMeta& meta,
                                           const BookLayout& layout, bool kobo);
std::unique_ptr<BookWriter> MakePdfWriter(SafeFileWriter& out, const BookMeta& meta,
                                          const BookLayout& layout);

}  // namespace inkbrite
