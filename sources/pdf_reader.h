// SPDX-License-Identifier: GPL-2.0-or-later
// A PDF file's pages as pictures, drawn by the PDF helper program
// (inkbrite-pdf, sources/pdf_protocol.h says why and how): each page in a
// process of its own under a CPU-time limit, an address-space limit and a
// wall-clock watchdog, so a hostile page fails with its reason (too long,
// over the memory limit) and never takes this process with it.
//
// A page that is one embedded picture covering the page is read at that
// picture's own resolution; any other page is rendered at kPdfPageHeight
// pixels tall (its width to scale), over white, smaller where the picture
// limits or cairo's 32767 pixels per side demand it (PdfRenderSize).
//
// Opening asks the helper for the page count and every page's size, and
// holds them to the limits before a page is drawn: at most kMaxBookEntries
// pages, each within the picture limits once drawn, all of them within
// kMaxBookBytes of pictures. Before that, the dictionaries of the file's
// image objects are read for their /Width and /Height: a file that states
// an image beyond the picture limits is refused at once (one hidden from
// that scan meets the helper's limits instead).
//
// The helper is looked for in $INKBRITE_PDF_HELPER when set, else beside
// the running program, else in <prefix>/libexec/inkbrite.
//
// Threads: one reader is used by one thread at a time.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/dib_image.h"
#include "sources/pdf_protocol.h"
#include "sources/source_texts.h"

namespace inkbrite {

// A page's size once drawn, in pixels.
struct PdfPageSize {
  int width = 0;
  int height = 0;
};

class PdfReader {
 public:
  PdfReader();
  ~PdfReader();
  PdfReader(const PdfReader&) = delete;
  PdfReader& operator=(const PdfReader&) = delete;

  SourceError Open(const std::filesystem::path& path);
  // The bytes are copied into a memory file the helper reads.
  SourceError OpenMemory(const uint8_t* data, size_t size);

  size_t PageCount() const { return m_pages; }
  const std::vector<PdfPageSize>& PageSizes() const { return m_sizes; }
  // Page `index` (from 0) as a 24-bit picture; *greySource is 1 when every
  // pixel is neutral. kTimedOut past the time limits, kOverMemory past the
  // memory limit.
  SourceError LoadPage(size_t index, DibImage& image, int* greySource);

  // The limits of every run of the helper (pdf_helper's unless a test
  // changes them; they hold from the next run on).
  void SetPageLimits(int cpuSeconds, std::chrono::milliseconds wallClock,
                     uint64_t addressSpaceBytes);

 private:
  struct Document;
  SourceError Start(int fd);
  SourceError Ask(const std::vector<std::string>& request, int answerFd) const;

  std::unique_ptr<Document> m_doc;
  size_t m_pages = 0;
  std::vector<PdfPageSize> m_sizes;
  int m_cpuSeconds = pdf_helper::kPageCpuSeconds;
  std::chrono::milliseconds m_wallClock{std::chrono::seconds(pdf_helper::kPageWallSeconds)};
  uint64_t m_addressSpace = pdf_helper::kHelperAddressBytes;
};

// The helper program; empty when it cannot be found.
std::filesystem::path PdfHelperPath();

// The size a page of w x h points is drawn at, and the scale from points.
// False when it has no size.
bool PdfRenderSize(double w, double h, int& width, int& height, double& scale);

// An answer of the helper: its size and a way to read it.
struct PdfAnswer {
  uint64_t size = 0;
  std::function<bool(uint64_t offset, void* out, size_t size)> read;
};
// The helper's answers read and checked (nothing in them is trusted): an
// info answer's page sizes (held to the limits above), a render answer's
// picture.
SourceError ReadPdfInfoAnswer(const PdfAnswer& answer, std::vector<PdfPageSize>& pages);
SourceError ReadPdfPageAnswer(const PdfAnswer& answer, DibImage& image, int* greySource);

// For tests and the fuzz target: true when every image dictionary of the
// PDF bytes states a size within the picture limits (or none that can be
// read).
bool PdfImagesWithinLimits(const uint8_t* data, size_t size);

}  // namespace inkbrite
