// SPDX-License-Identifier: GPL-2.0-or-later
// What kind of image a file holds. The codes are stored numbers: never
// renumbered.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string_view>

namespace inkbrite {

enum ImageFormat : int {
  kFormatUnknown = 0,
  kFormatJpeg = 1,
  kFormatUfo = 2,
  kFormatGif = 3,
  kFormatBmp = 4,
  kFormatPng = 5,
  kFormatTiff = 6,
  kFormatMetafile = 7,   // Windows or enhanced metafile
  kFormatJ2kStream = 8,  // bare JPEG 2000 code stream
  kFormatJp2 = 9,
  kFormatWebp = 10,
  kFormatAvif = 11,
  kFormatJxl = 12,
  // Books: archives and PDF files whose pages are pictures (role kBook in the
  // format table). Their own range keeps the picture codes contiguous.
  kFormatZipBook = 64,
  kFormatRarBook = 65,
  kFormat7zBook = 66,
  kFormatTarBook = 67,
  kFormatPdfBook = 68,
};

// With probeContent, the first 16 bytes of the file are tested against the
// signatures of the format table (formats/format_table.h), and its first
// bytes against the content tests of the rows that have one, in its order (a
// file shorter than 16 bytes, or one that cannot be opened, is judged by its
// name). Otherwise, and when no signature matches, the text from the last
// "." of the path decides, compared without regard to case with the
// extensions the table knows by name, in its order; anything else gives 0.
ImageFormat DetectImageFormat(const std::filesystem::path& path, bool probeContent);
// The same with content probing, on a file probed already.
class FileProbe;
ImageFormat DetectImageFormat(FileProbe& file);

// The same for bytes held in memory (a page inside a book): the signatures
// against the first bytes (those that fit), then the extension of
// `nameHint`.
ImageFormat DetectImageFormatInMemory(const uint8_t* data, size_t size, std::string_view nameHint);

}  // namespace inkbrite
