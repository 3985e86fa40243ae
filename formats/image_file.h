// SPDX-License-Identifier: GPL-2.0-or-later
// The one entry to reading and writing image files.
//
// Every reader delivers a 24-bit DibImage and a grey-source flag: 1 when the
// file holds a grey or bilevel picture, from which the colour mode "keep as
// is" is resolved when saving. Every writer writes through a SafeFileWriter:
// a failed write leaves any previous file whole and no temporary file behind.
// Readers return 0 for any file they cannot read, whatever it claims, and
// never read outside their buffers; pictures above 65535 pixels per side or
// 2^31 bytes are refused.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string_view>

#include "core/dib_image.h"
#include "formats/detect.h"
#include "platform/messages.h"
#include "platform/read_status.h"

namespace inkbrite {

// Reads any supported file with the reader of its row in the format table,
// chosen by DetectImageFormat with content probing. 1 on success (the image
// replaced, *greySource set), 0 on failure (the image may have been
// cleared) with the reason in *status (platform/read_status.h): no reader
// for it, damage, which limit, no memory, the system's error.
int LoadImageFile(const std::filesystem::path& path, DibImage& image, int* greySource,
                  ReadStatus* status = nullptr);
// The same on a file probed already (formats/file_probe.h): no second open.
class FileProbe;
int LoadImageFile(FileProbe& file, DibImage& image, int* greySource, ReadStatus* status = nullptr);

// Reads a file held in memory (a page inside a book) with the memory reader
// of its row, chosen by DetectImageFormatInMemory: the bytes' signature, else
// the extension of `nameHint` (the entry's name). 1 on success (the image
// replaced, *greySource set), 0 on failure (the image may have been cleared;
// a book's row, or no row, is never read), the reason in *status.
int LoadImageMemory(const uint8_t* data, size_t size, std::string_view nameHint, DibImage& image,
                    int* greySource, ReadStatus* status = nullptr);

// Why SaveImageFile failed, for the caller's message.
enum class SaveError {
  kNone,
  kEmptyImage,
  kUnsupportedExtension,  // the name's extension has no writer
  kWriteFailed,           // the writer could not write the file
  kNoReducedPages,        // a colour-reducing mode into a format without palette pages
};

// The caller's message for an unsupported extension is
// UnsupportedSaveExtensionText (formats/format_table.h).

// Writes `image` with the writer of the format its name's extension gives
// (no content probing; the format table's rows with a writer: JPEG with
// `quality` (0 to 100), BMP, PNG, TIFF, JP2).
// `colourMode` is 0 (colour) or 1 (grey). Grey is one rule for every writer:
// the page is written exactly as DibImage::Greyscale would grey it (a
// one-component JPEG, a grey PNG, TIFF or JP2, a 24-bit BMP of grey pixels),
// so a coloured page saved grey gives the same bytes as the greyed page
// saved grey; `image` itself is never changed. A page of grey levels
// (DibImage::IsGreyLevels) is written as its 24-bit page: straight from its
// rows where the format's row writer takes grey rows (JPEG, grey), else
// through a 24-bit copy. 1 on success, 0 on failure with the reason in
// *error.
int SaveImageFile(const std::filesystem::path& path, const DibImage& image, int colourMode,
                  int quality, SaveError* error = nullptr);

// Saves an enhanced page in a colour mode of the parameter block, as the
// viewer's Save and the batch job both do, so the two write the same bytes
// (at the same `deflateLevel`; the same pixels at any):
// "keep as is" follows `greySource`; the colour-reducing modes write the
// palette picture (ReduceColoursAndSave's rules) in a format that holds one
// (kNoReducedPages otherwise); grey and colour go to SaveImageFile.
// A palette PNG is compressed at zlib level `deflateLevel` (-1: zlib's
// default). `page` is never changed. 1 on success, 0 with the reason in
// *error.
int SavePageInColourMode(const std::filesystem::path& path, const DibImage& page, int colourMode,
                         bool greySource, int quality, SaveError* error = nullptr,
                         int deflateLevel = -1);

}  // namespace inkbrite
