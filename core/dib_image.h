// SPDX-License-Identifier: GPL-2.0-or-later
// DibImage: the one in-memory picture of Inkbrite.
//
// The pixels live in one block laid out as a packed device-independent bitmap:
//
//   +--------------------------------+
//   | info header (40 bytes, or the  |  biSize, width, height, planes, bit count,
//   | 12-byte OS/2 core header)      |  compression, image size, resolution, colours
//   +--------------------------------+
//   | colour table                   |  4-byte entries (blue, green, red, 0), or
//   |                                |  3-byte entries after a core header
//   +--------------------------------+
//   | rows, bottom row first,        |  each row padded to a multiple of 4 bytes;
//   | 24-bit pixels blue-green-red   |  image row y (from the top) is stored at
//   |                                |  (height - 1 - y) * rowBytes
//   +--------------------------------+
//
// The codecs read and write this layout directly, so it never changes.
//
// Rules shared by every operation:
// - Operations return true on success. On failure the image is left exactly as
//   it was (an operation that needs a second image and cannot allocate it
//   changes nothing). Nothing here shows a message: callers decide.
// - The enhancement operations (tone, colour, sharpen, resampling) accept only
//   24 bits per pixel and return false for an empty image or any other depth;
//   tone, sharpen, soften, resampling and cropping also take a page of grey
//   levels (CreateGreyLevels, IsGreyLevels), giving for each level
//   the byte they give each channel of the 24-bit page of equal channels.
// - A DibImage has no lock: one thread uses it at a time.
// - Width and height are at most kMaxDibDimension and the block at most
//   kMaxDibBytes; larger pictures are refused.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <vector>

#include "core/limits.h"

namespace inkbrite {

class CxImage;

// Limits of an in-memory picture (kMaxDibDimension per side, kMaxDibBytes
// for the block) live with the readers' limits in core/limits.h.

// One colour table entry as it is stored in a DIB.
struct RgbQuad {
  uint8_t blue = 0;
  uint8_t green = 0;
  uint8_t red = 0;
  uint8_t reserved = 0;
  friend bool operator==(const RgbQuad&, const RgbQuad&) = default;
};

// Bounds of the picture: (0, 0, width, height).
struct DibRect {
  int32_t left = 0;
  int32_t top = 0;
  int32_t right = 0;
  int32_t bottom = 0;
  // Point-in-rectangle rule of GDI: left and top inside, right and bottom not.
  bool Contains(int32_t x, int32_t y) const {
    return x >= left && x < right && y >= top && y < bottom;
  }
  int32_t Width() const { return right - left; }
  int32_t Height() const { return bottom - top; }
  friend bool operator==(const DibRect&, const DibRect&) = default;
};

class DibImage {
 public:
  DibImage() = default;
  DibImage(const DibImage& other);
  DibImage& operator=(const DibImage& other);
  DibImage(DibImage&& other) noexcept;
  DibImage& operator=(DibImage&& other) noexcept;
  ~DibImage() = default;

  // Frees the block and palette; the image becomes empty.
  void Clear();

  // Deep copy of `source`. An empty source leaves this image unchanged.
  bool CopyFrom(const DibImage& source);

  // New zero-filled image with a 40-byte header. Only 24 bits per pixel are
  // made. Fails (image cleared) for a size of 0 or beyond the limits.
  bool Create(int32_t width, int32_t height, int32_t bitCount = 24);
  // New zero-filled page of grey levels: 8 bits a pixel under a colour table
  // of 256 entries, entry i grey (i, i, i). Converted to 24 bits (or
  // widened row by row) it is the 24-bit page whose every pixel repeats its
  // level three times. Fails as Create does.
  bool CreateGreyLevels(int32_t width, int32_t height);
  // True for a page made so, and for what the operations that take one make
  // of it; an 8-bit picture attached from a block is never one, whatever its
  // colour table.
  bool IsGreyLevels() const { return m_greyLevels; }

  // Takes over a packed DIB block. The block must hold a 40-byte or 12-byte
  // header, an uncompressed bottom-up picture of 1, 2, 4, 8, 15, 16, 24 or 32
  // bits, its colour table and all its rows; anything else is refused and the
  // image stays empty.
  bool Attach(std::vector<uint8_t> block);

  // Copies a packed DIB from ordinary memory, attaches it and converts it to
  // 24 bits.
  bool FromPackedDib(const uint8_t* data, size_t size);

  // Hands the block to the caller; the image becomes empty.
  std::vector<uint8_t> Detach();

  // Converts 1, 2, 4, 8, 15, 16 (read as 5-5-5) and 32-bit pictures to 24
  // bits. A 24-bit image returns true at once.
  bool ConvertTo24Bit();

  // Reads a BMP file: uncompressed 1, 2, 4, 8, 16, 24 and 32 bits, RLE8, RLE4
  // and bit fields, core, 40-byte and later info headers, bottom-up or
  // top-down. On success the image is 24 bits and, when given,
  // *fileBitCount receives the bit count of the file (1 for a bilevel file).
  bool LoadBmp(const std::filesystem::path& path, int* fileBitCount = nullptr);

  // Writes the image as a BMP file with a 40-byte header; with `grey` a
  // 24-bit image is written as Greyscale would leave it (the image itself
  // is not changed). The file is written to a temporary name beside the
  // target and renamed over it only when all bytes were written: a failed
  // save leaves any previous file untouched.
  bool SaveBmp(const std::filesystem::path& path, bool grey = false) const;

  // Quarter turn: clockwise when `clockwise` is true, else anticlockwise.
  bool Rotate90(bool clockwise);
  // Reverses the pixel order of every row.
  bool MirrorHorizontal();
  // True for a 24-bit image whose every pixel has blue = green = red, and
  // for a page of grey levels.
  bool IsGrey() const;

  // Tone adjustments (tone.cpp). Each maps every channel byte through a
  // table; the neutral value returns true at once.
  bool Brightness(int percent);
  bool Contrast(int percent);
  bool Gamma(int gammaTimes100);
  bool Highlight(int gainPercent, int threshold);
  bool Curve(int x1, int y1, int x2, int y2);

  // Colour modes (colour.cpp). Greyscale makes every pixel
  // (54 blue + 183 green + 19 red) >> 8 (a page of grey levels is left as it
  // is). ReduceColours reduces the picture to
  // `colours` entries of a `bits`-deep palette (grey first when `grey`) and
  // expands it back to 24 bits. ToContainer copies the picture into a 24-bit
  // codec container, or with `grey` into an 8-bit grey-ramp container of the
  // levels Greyscale gives.
  bool Greyscale();
  bool ReduceColours(bool grey, int bits, int colours);
  bool ToContainer(bool grey, CxImage& container) const;

  // 3 x 3 filters (filter3x3.cpp): sharpen levels 1 to 9, soften 1 (normal)
  // or 2 (strong).
  bool Sharpen(int level);
  bool Soften(int strength);

  // Resampling and cropping (resample.cpp). The filter is 0 bilinear, 1
  // bicubic, 2 nearest; the forms without it read slot 23 of the
  // application-wide parameter block.
  bool ResizeTo(int32_t width, int32_t height);
  bool ResizeTo(int32_t width, int32_t height, int filter);
  bool ResizePercent(int percent);
  bool ResizePercent(int percent, int filter);
  bool Crop(int32_t left, int32_t top, int32_t right, int32_t bottom);
  // The size at which the picture fits a rectangle (never enlarged, no side
  // below 1).
  void FitSize(int32_t rectWidth, int32_t rectHeight, int32_t& width, int32_t& height) const {
    FitSizeOf(m_nWidth, m_nHeight, rectWidth, rectHeight, width, height);
  }
  // The same for a page of pageWidth x pageHeight.
  static void FitSizeOf(int32_t pageWidth, int32_t pageHeight, int32_t rectWidth,
                        int32_t rectHeight, int32_t& width, int32_t& height);

  // Accessors.
  bool IsEmpty() const { return m_dib.empty(); }
  int32_t Width() const { return m_nWidth; }
  int32_t Height() const { return m_nHeight; }
  int32_t RowBytes() const { return m_nRowBytes; }
  int32_t BitCount() const { return m_nBitCount; }
  const DibRect& Bounds() const { return m_bounds; }
  // Colour table entries (empty above 8 bits per pixel).
  const std::vector<RgbQuad>& Palette() const { return m_palette; }
  // The whole packed DIB.
  const std::vector<uint8_t>& PackedDib() const { return m_dib; }
  // Size of the info header (40 or 12); 0 when empty.
  uint32_t HeaderSize() const;
  // Start of the pixel rows (bottom row first); null when empty.
  uint8_t* Bits() { return m_dib.empty() ? nullptr : m_dib.data() + m_nBitsOffset; }
  const uint8_t* Bits() const { return m_dib.empty() ? nullptr : m_dib.data() + m_nBitsOffset; }
  // Row y counted from the top of the picture.
  uint8_t* Row(int32_t y) { return Bits() + StoredRowOffset(y); }
  const uint8_t* Row(int32_t y) const { return Bits() + StoredRowOffset(y); }
  // True when the image holds a 24-bit picture.
  bool Is24Bit() const { return !m_dib.empty() && m_nBitCount == 24; }

  // Bytes per stored row for a width and depth: ((w * bits + 31) / 32) * 4.
  static int64_t RowBytesFor(int64_t width, int64_t bitCount) {
    return ((width * bitCount + 31) / 32) * 4;
  }

 private:
  size_t StoredRowOffset(int32_t y) const {
    return static_cast<size_t>(m_nHeight - 1 - y) * static_cast<size_t>(m_nRowBytes);
  }
  void BuildPalette();

  std::vector<uint8_t> m_dib;
  std::vector<RgbQuad> m_palette;
  int32_t m_nWidth = 0;
  int32_t m_nHeight = 0;
  int32_t m_nRowBytes = 0;
  int32_t m_nBitCount = 0;
  size_t m_nBitsOffset = 0;
  DibRect m_bounds;
  bool m_greyLevels = false;
};

}  // namespace inkbrite
