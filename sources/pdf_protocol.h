// SPDX-License-Identifier: GPL-2.0-or-later
// What the PDF helper program (inkbrite-pdf) and the PDF reader say to each
// other. Poppler cannot be interrupted while it draws, and a hostile page
// (millions of saved states, a form that draws itself again and again, a
// picture of a billion pixels) can take it to gigabytes or keep it drawing
// for hours: every page is drawn in a process of its own, under a CPU-time
// limit, an address-space limit and a wall-clock watchdog, so a page over any
// of them fails alone and the reading goes on.
//
// One request a run: `inkbrite-pdf OPERATION [PAGE]`, the PDF file as
// standard input (a seekable file: the book's own file, or a memory file
// holding its bytes), the answer on standard output.
// - info: an InfoHeader, then `pages` PageSize records (the size of each
//   page in points, as drawn: its rotation applied).
// - render PAGE (from 0): a PageHeader, then the picture's rows top row
//   first, blue-green-red, width * 3 bytes each.
// A header whose error is not 0 (a SourceError) carries nothing after it.
// The helper exits with 0 when it answered, kExitOutOfMemory when an
// allocation failed, anything else when it could not answer. Numbers are in
// the machine's order (both ends are this build).
#pragma once

#include <cstdint>

namespace inkbrite::pdf_helper {

inline constexpr char kHelperName[] = "inkbrite-pdf";
inline constexpr char kInfo[] = "info";
inline constexpr char kRender[] = "render";

inline constexpr uint32_t kInfoMagic = 0x49504249;  // "IBPI"
inline constexpr uint32_t kPageMagic = 0x50504249;  // "IBPP"

struct InfoHeader {
  uint32_t magic = kInfoMagic;
  uint32_t error = 0;
  uint32_t pages = 0;
  uint32_t reserved = 0;
};

struct PageSize {
  double width = 0;  // points
  double height = 0;
};

struct PageHeader {
  uint32_t magic = kPageMagic;
  uint32_t error = 0;
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t greySource = 0;
  uint32_t reserved = 0;
};

inline constexpr int kExitOutOfMemory = 3;

// The bounds of one request. CPU seconds: a page of a real comic draws in
// well under a second, the largest picture the readers accept in a few.
// Wall-clock seconds: the same, with room for a loaded machine. Address
// space: the largest page's drawing surface (2^28 pixels of 4 bytes) and an
// embedded picture of that size besides, the libraries and their work.
inline constexpr int kPageCpuSeconds = 60;
inline constexpr int kPageWallSeconds = 120;
inline constexpr uint64_t kHelperAddressBytes = uint64_t{4} << 30;

}  // namespace inkbrite::pdf_helper
