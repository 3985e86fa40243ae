// SPDX-License-Identifier: GPL-2.0-or-later
// The readers under test: one target per fuzz target name of the format
// table (formats/format_table.h), each feeding the bytes of a whole file to
// its format's memory reader (a book row's to the book reader, which lists
// the book, reads its entries and decodes its pages), "comicinfo", which
// feeds them to the ComicInfo.xml parser, and "load", which feeds them to
// LoadImageFile through a file, and "net-file", which feeds them to the
// network file reader of the learned steps. Shared by the libFuzzer program (fuzz_main.cpp), the
// regression runner that CI builds with the ordinary compiler
// (regression_main.cpp) and the seed maker (make_seeds.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "formats/format_table.h"

namespace inkbrite::fuzz {

// What a target feeds its bytes to.
enum class Feed {
  kReader,     // a picture row's memory reader
  kBook,       // the book reader (a book row: zip, rar, 7z, tar, pdf)
  kComicInfo,  // the ComicInfo.xml parser
  kLoad,       // LoadImageFile, through a file
  kPdfAnswer,  // the PDF reader's checks of its helper's answers
  kNetFile,    // the learned steps' network file reader
};

struct Target {
  std::string name;
  const FileFormat* format;  // the row; null for "comicinfo" and "load"
  Feed feed;
};

// Every target: the format table's fuzz targets in row order, then
// "comicinfo", "load", "pdf-answer" and "net-file".
const std::vector<Target>& Targets();

// The target of that name; null when there is none.
const Target* FindTarget(std::string_view name);

// Runs one input through a target. Always 0 (libFuzzer's "keep going");
// a reader that breaks its promises ends the process.
int RunTarget(const Target& target, const uint8_t* data, size_t size);

}  // namespace inkbrite::fuzz
