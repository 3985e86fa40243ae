// SPDX-License-Identifier: GPL-2.0-or-later
// The limits every book is held to, in one place (the pictures inside it are
// also held to core/limits.h by their readers).
//
// An archive says what it holds before a byte is unpacked, and a damaged or
// hostile one can claim anything: 100,000 entries, a 1 GiB page that
// inflates from 1 MB, a page that declares 4 KiB and inflates to 1 GiB, a
// header that makes the unpacker repeat the same error for ever. The book
// reader checks the listing against these numbers before it reads any page,
// never trusts a declared size (an entry is read into a buffer that grows as
// its bytes arrive, and stops at the declared size or the limit, whichever
// is less), and gives up a pass over an archive that takes too long.
//
// The numbers:
// - kMaxBookEntries, 20,000 entries of any kind: a thick omnibus has a few
//   thousand pages.
// - kMaxPageFileBytes, 769 MiB: the largest picture the readers accept
//   (kMaxImagePixels, 2^28 pixels) takes 768 MiB as an uncompressed 24-bit
//   BMP, the plainest way to store it; a page entry that declares more is
//   refused before it is unpacked.
// - kMaxOtherEntryBytes, 64 MiB: a non-page entry (ComicInfo.xml, a text)
//   read whole to be copied into a converted book; a larger one is left out.
// - kMaxComicInfoBytes, 1 MiB: ComicInfo.xml files are a few KiB.
// - kMaxBookBytes, 64 GiB: the declared bytes of all entries of a book,
//   pages or not (a PDF: its pages' pictures once drawn).
// - kMaxBookRatio, 200: unpacked bytes per byte of the archive file, for an
//   entry (or the entries together) above kRatioCheckedFrom; also the bytes
//   one pass over the archive may unpack, counted as they arrive. Pages are
//   compressed pictures that an archive barely shrinks; a blank uncompressed
//   page deflates about 1000 to 1, but is far smaller than 32 MiB.
// - kMaxArchiveRetries, 1,000 retries in one pass (an unpacker that asks to
//   be called again without giving an entry) and kMaxArchiveSeconds, 120 s
//   spent inside the reader in one pass over an archive (listing it, or
//   every read from one start to the next, the entries passed over
//   included): what stops an unpacker that repeats an error without end. Unpacking a
//   2 GB solid archive from its start takes about 20 s.
// - kReadAheadBytes, 64 MiB, and kReadAheadPages, 8: what a book keeps of
//   the pages after (and just before) the one read, so that paging through a
//   solid archive never unpacks it from the start again.
// - kBookPagesMemoryBytes, 2 GiB: what the pages of a book being converted
//   may hold in memory together (each page's file bytes, its picture and
//   the pipeline's working copy of it): the largest loose page (768 MiB and
//   its copy) fits; a book's page that alone needs more fails "over the
//   memory limit", and pages wait for room rather than pass it together.
// - kPdfPageHeight, 2400 pixels: a PDF page that is not one picture is
//   rendered at this height (a typical comic page), within the picture
//   limits.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/limits.h"

namespace inkbrite {

inline constexpr size_t kMaxBookEntries = 20000;
inline constexpr uint64_t kMaxPageFileBytes = kMaxImagePixels * 3 + (uint64_t{1} << 20);
inline constexpr uint64_t kMaxOtherEntryBytes = uint64_t{64} << 20;
inline constexpr uint64_t kMaxComicInfoBytes = uint64_t{1} << 20;
inline constexpr uint64_t kMaxBookBytes = uint64_t{64} << 30;
inline constexpr uint64_t kMaxBookRatio = 200;
inline constexpr uint64_t kRatioCheckedFrom = uint64_t{32} << 20;
inline constexpr int kMaxArchiveRetries = 1000;
inline constexpr int kMaxArchiveSeconds = 120;
inline constexpr uint64_t kReadAheadBytes = uint64_t{64} << 20;
inline constexpr size_t kReadAheadPages = 8;
inline constexpr int kPdfPageHeight = 2400;
inline constexpr uint64_t kBookPagesMemoryBytes = uint64_t{2} << 30;

}  // namespace inkbrite
