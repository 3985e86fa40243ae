// SPDX-License-Identifier: GPL-2.0-or-later
// A PDF file's pages as pictures, through poppler's GLib binding and cairo.
//
// A page that is one embedded picture covering the page (and nothing else
// poppler can tell of: no text) is read at that picture's own resolution
// (poppler_page_get_image: a scanned comic page comes back with its own
// pixels, no re-rendering); any other page is rendered at kPdfPageHeight
// pixels tall (its width to scale), over white, smaller where the picture
// limits or cairo's 32767 pixels per side demand it. The GLib binding is
// used rather than the C++ one because only it hands out an embedded
// picture; cairo and GLib are already linked for the metafile reader.
//
// Before poppler sees a file, the dictionaries of its image objects are
// read for their /Width and /Height: a file holding an image beyond the
// picture limits is refused (poppler would allocate and decode it whole).
// Poppler's own drawing time is not bounded.
//
// Threads: one reader is used by one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>

#include "core/dib_image.h"
#include "sources/source_texts.h"

namespace inkbrite {

class PdfReader {
 public:
  PdfReader();
  ~PdfReader();
  PdfReader(const PdfReader&) = delete;
  PdfReader& operator=(const PdfReader&) = delete;

  SourceError Open(const std::filesystem::path& path);
  // The bytes must outlive the reader.
  SourceError OpenMemory(const uint8_t* data, size_t size);

  size_t PageCount() const { return m_pages; }
  // Page `index` (from 0) as a 24-bit picture; *greySource is 1 when every
  // pixel is neutral.
  SourceError LoadPage(size_t index, DibImage& image, int* greySource);

 private:
  struct Document;
  SourceError Finish(void* document, void* error);

  std::unique_ptr<Document> m_doc;
  size_t m_pages = 0;
};

// For tests and the fuzz target: true when every image dictionary of the
// PDF bytes states a size within the picture limits (or none that can be
// read).
bool PdfImagesWithinLimits(const uint8_t* data, size_t size);

}  // namespace inkbrite
