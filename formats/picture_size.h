// SPDX-License-Identifier: GPL-2.0-or-later
// A picture's size in pixels from the first bytes of its file, without
// decoding it: what the viewer needs to show a page of the right shape at
// once and to decide whether a page is big enough to decode on a thread of
// its own.
//
// The format is the format table's (detection by content), and each row
// names its size reader (FileFormat::readSize): JPEG, PNG, BMP, GIF (the
// logical screen), TIFF (the first directory), JPEG 2000 (JP2 and bare code
// streams), WebP, AVIF (the largest image spatial extent: the grid, not its
// tiles) and JPEG XL (bare and in its container). Anything else, or a header
// that is cut short or states a side of 0 or above 65535 pixels (which no
// reader takes), gives false.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>

namespace inkbrite {

struct PictureSize {
  int32_t width = 0;
  int32_t height = 0;
  uint64_t Pixels() const {
    return uint64_t{static_cast<uint32_t>(width)} * static_cast<uint32_t>(height);
  }
};

// From the bytes at hand (a whole file or its first bytes: 64 KiB hold every
// header but a TIFF directory written after the pixels, or a JPEG frame
// header behind large metadata).
bool ReadPictureSize(const uint8_t* data, size_t size, PictureSize& out);

// From a file: its first bytes and, for a TIFF file, its first directory
// wherever it lies.
bool ReadPictureFileSize(const std::filesystem::path& path, PictureSize& out);
// The same on a file probed already (formats/file_probe.h).
class FileProbe;
bool ReadPictureFileSize(FileProbe& file, PictureSize& out);

// The rows' size readers: each takes the first bytes of a file of its
// format and checks the header it reads.
namespace picture_size {
bool Jpeg(const uint8_t* data, size_t size, PictureSize& out);
bool Gif(const uint8_t* data, size_t size, PictureSize& out);
bool Bmp(const uint8_t* data, size_t size, PictureSize& out);
bool Png(const uint8_t* data, size_t size, PictureSize& out);
bool Tiff(const uint8_t* data, size_t size, PictureSize& out);
bool Jp2(const uint8_t* data, size_t size, PictureSize& out);
bool J2k(const uint8_t* data, size_t size, PictureSize& out);
bool Webp(const uint8_t* data, size_t size, PictureSize& out);
bool Avif(const uint8_t* data, size_t size, PictureSize& out);
bool Jxl(const uint8_t* data, size_t size, PictureSize& out);
}  // namespace picture_size

}  // namespace inkbrite
