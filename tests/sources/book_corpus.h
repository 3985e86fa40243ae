// SPDX-License-Identifier: GPL-2.0-or-later
// The comic-archive part of the corpus for the tests: archives/BOOKS.tsv
// (what a reader must do with each archive) and archives/ENTRIES.tsv (the
// entries of the archives that can be listed whole), and the expected
// picture of a book's page.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/dib_image.h"

namespace inkbrite::test {

struct BookRow {
  std::string path;    // relative to the corpus folder ("archives/generated/stored.cbz")
  std::string kind;    // zip, rar4, rar5, 7z, tar, pdf
  std::string expect;  // book, no-pages, archive-only, encrypted, damaged, unsafe
  std::vector<std::string> pages;    // in reading order (empty for "-")
  std::vector<std::string> sources;  // the corpus file of each page (empty for "-")
  std::string notes;
};
std::vector<BookRow> ReadBookRows();

struct EntryRow {
  std::string path;   // the archive
  std::string entry;  // name with '/', no trailing '/'
  std::string type;   // file, dir, symlink
  uint64_t size = 0;
  std::string sha256;      // files
  std::string linkTarget;  // symlinks
};
std::vector<EntryRow> ReadEntryRows();

// The tolerance of a corpus picture from MANIFEST.tsv or MANIFEST-modern.tsv
// and whether it is listed as loading ("ok"); -1 when it is not listed.
struct PictureExpectation {
  bool listed = false;
  bool loads = false;
  int tolerance = -1;
};
PictureExpectation ExpectationOf(const std::string& source);

// Empty when `image` is the expected picture of `source` within its
// tolerance, else what differs.
std::string CompareWithExpected(const DibImage& image, const std::string& source);

}  // namespace inkbrite::test
