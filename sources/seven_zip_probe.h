// SPDX-License-Identifier: GPL-2.0-or-later
// A check of a 7z archive's headers before the unpacker reads them.
//
// The headers of a 7z archive announce counts (files, folders, streams,
// coders) that the unpacker allocates for before it reads what follows;
// libarchive accepts up to 100 million files, so 78 hostile bytes make it
// ask for gigabytes. This walk reads the signature header (the next header's
// place and size checked against the file), reads the next header within
// kMax7zHeaderBytes (unpacking it first when it is stored compressed with
// LZMA, LZMA2 or Deflate, or copied; its dictionary held to its size), and
// checks every count on the way to the number of files: none may pass
// kMaxBookEntries (or, for the coders of one folder, kMax7zFolderStreams),
// nor claim more than the header's remaining bytes can describe.
//
// A self-extracting archive (a program with the archive inside, as
// libarchive finds it) is checked at every place its signature header could
// be. An archive whose header is encrypted is left to the unpacker, which
// cannot read its counts either and refuses it.
#pragma once

#include <cstdint>

#include "sources/rar_probe.h"
#include "sources/source_texts.h"

namespace inkbrite {

// The largest next header of a 7z archive read: 20,000 entries with long
// names and every time stored take a few MiB.
inline constexpr uint64_t kMax7zHeaderBytes = uint64_t{64} << 20;
// The coders, bindings and streams of one folder (7-Zip writes at most 4
// coders; it reads at most 64).
inline constexpr uint64_t kMax7zFolderStreams = 64;

// kNone when the bytes are no 7z archive or its headers are within the
// limits; else kDamaged (a header that cannot be followed, or that points
// outside the file), kTooManyEntries, kTooLarge (a next header beyond
// kMax7zHeaderBytes) or kNotABook (a header stored with a coder this walk
// does not unpack).
SourceError CheckSevenZipHeaders(const ArchiveBytes& read, uint64_t size);

}  // namespace inkbrite
