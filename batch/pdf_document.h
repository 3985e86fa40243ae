// SPDX-License-Identifier: GPL-2.0-or-later
// The PDF file itself, written by qpdf from pages and metadata prepared by
// pdf_writer.cpp: a page per picture, the picture drawn over the whole page.
// Its identifier is derived from the content (qpdf's deterministic ID), so
// the same pages give the same bytes. Compiled as C++17: qpdf 11's headers
// do not build as C++20 with clang and libstdc++ 12.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace inkbrite {

struct PdfPicturePage {
  int width = 0;  // pixels
  int height = 0;
  // DeviceGray, else DeviceRGB: the samples' colours, or with a palette
  // the palette's.
  bool grey = false;
  int bits = 8;       // a sample's bits: 8, or 1, 2 or 4 (grey or palette)
  bool jpeg = false;  // `bytes` a JPEG file (DCTDecode), else zlib samples (FlateDecode)
  // `bytes` a PNG's zlib stream, each row after its filter byte (FlateDecode
  // with the PNG predictors).
  bool pngRows = false;
  // The palette (an Indexed colour space): 2^bits entries of 1 (grey) or
  // 3 (RGB) bytes each, the samples its indices; empty: none.
  std::string palette;
  std::string bytes;
  double widthPoints = 0;
  double heightPoints = 0;
};

struct PdfDocumentInfo {
  std::string title;  // UTF-8; empty: left out
  std::string author;
  std::string subject;
  std::string keywords;
  std::string language;
  std::string date;  // "D:YYYYMMDDHHmmSSZ"
  std::string xmp;   // the XMP packet
  bool rightToLeft = false;
};

// Writes the pages, in order, into `file` (open, left open). False on any
// error (qpdf's exceptions are caught); `pages` are emptied as they go in.
bool WritePdfDocument(std::vector<PdfPicturePage>& pages, const PdfDocumentInfo& info,
                      const std::string& name, std::FILE* file);

}  // namespace inkbrite
