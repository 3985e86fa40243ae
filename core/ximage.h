// SPDX-License-Identifier: GPL-2.0-or-later
// CxImage: the codec container.
//
// A small image with a packed DIB of its own, used as a bridge between a
// DibImage and the encoders and decoders that work on a container (colour
// reduction, the reduced-colour writers, TIFF, JPEG 2000, GIF). It holds, in
// one block:
//
//   40-byte info header   biSize 40, planes 1, uncompressed, biSizeImage =
//                         row length x height, resolution from the dpi
//   colour table          biClrUsed entries of (blue, green, red, 0)
//   rows                  bottom row first, each padded to 4 bytes
//
// Depths are 1, 4, 8 and 24 bits; a requested depth is rounded up to the next
// of these (0 and 1 -> 1, 2 to 4 -> 4, 5 to 8 -> 8, larger -> 24) with 2, 16,
// 256 or no colour table entries.
//
// Rules shared by every operation:
// - Coordinates are (x, y) with y = 0 the BOTTOM row, as the rows are stored.
//   Coordinates outside the picture are ignored (reads give 0).
// - Operations report failure by their result and keep the reason in the
//   error text (at most 255 characters); nothing is ever shown to the user.
//   An operation that fails leaves the picture as it was.
// - The settings (quality, dpi, transparency, frame, codec options) belong to
//   the container, not to the picture: Create keeps them.
// - The only file codec here is the BMP encoder; the dispatch to the other
//   encoders lives in formats/container_save.h.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "core/dib_image.h"

namespace inkbrite {

// Container type numbers used to save and load.
enum CxImageType : int {
  kCxImageUnknown = 0,
  kCxImageBmp = 1,
  kCxImageGif = 2,
  kCxImagePng = 3,
  kCxImageTiff = 4,
  kCxImageJp2 = 5,
  kCxImageWebp = 6,  // lossless WebP (colour-reduced pages)
  kCxImageJxl = 7,   // lossless JPEG XL (colour-reduced pages)
};
inline constexpr int kCxImageTypeCount = 8;

inline constexpr int kCxDefaultQuality = 90;
inline constexpr int kCxDefaultDpi = 96;
inline constexpr size_t kCxMaxErrorLength = 255;

// Pixels per metre for a resolution in dots per inch, rounded to the nearest
// integer (96 dpi -> 3780).
int32_t DpiToPixelsPerMetre(int32_t dpi);

class CxImage {
 public:
  CxImage() = default;

  // Replaces any previous picture by a zeroed one of the rounded depth. False
  // (picture freed, reason in the error text) for a width or height of 0 or
  // less, above 65535, or a block above 2^31 bytes, and when the memory
  // cannot be had.
  bool Create(int32_t width, int32_t height, int32_t depth, int type);
  // Frees the picture; the settings stay.
  void Destroy();

  bool IsValid() const { return !m_dib.empty(); }
  int32_t Width() const { return m_width; }
  int32_t Height() const { return m_height; }
  int32_t Bpp() const { return m_bpp; }
  int Type() const { return m_type; }
  // Bytes per stored row: ((width * bpp + 31) / 32) * 4.
  int32_t RowBytes() const { return m_rowBytes; }

  // The packed DIB (header, colour table, rows) and its size in bytes.
  const uint8_t* Dib() const { return m_dib.empty() ? nullptr : m_dib.data(); }
  size_t DibSize() const { return m_dib.size(); }
  // Stored row y (y = 0 the bottom row); null when empty or out of range.
  uint8_t* StoredRow(int32_t y);
  const uint8_t* StoredRow(int32_t y) const;

  // Pixels. SetPixelColor stores blue, green, red in 24-bit pictures and
  // does nothing in palette pictures. GetPixelIndex gives the colour table
  // index of a palette picture (0 for 24 bits); SetPixelIndex sets it
  // (indices beyond the table are ignored). GetPixelColor gives the colour
  // of any picture.
  void SetPixelColor(int32_t x, int32_t y, uint8_t blue, uint8_t green, uint8_t red);
  uint8_t GetPixelIndex(int32_t x, int32_t y) const;
  void SetPixelIndex(int32_t x, int32_t y, uint8_t index);
  RgbQuad GetPixelColor(int32_t x, int32_t y) const;

  // Colour table. SetPalette copies the first entries given and zeroes the
  // rest of the table; extra entries are ignored. Reserved bytes are stored
  // as 0.
  size_t PaletteSize() const { return m_clrUsed; }
  std::vector<RgbQuad> GetPalette() const;
  RgbQuad GetPaletteColor(size_t index) const;
  void SetPalette(const RgbQuad* entries, size_t count);
  void SetPaletteColor(size_t index, RgbQuad colour);
  // biClrImportant of the header.
  uint32_t ClrImportant() const;
  void SetClrImportant(uint32_t count);

  // Makes the picture an 8-bit one with the grey ramp (entry i = (i, i, i)),
  // each pixel's index being (blue + green + red) / 3 of its colour. False
  // for an empty container or when the new picture cannot be allocated.
  bool GrayScale();
  // True when there is a colour table and every entry i is (i, i, i).
  bool IsGrayScale() const;

  // Reduces a 24-bit picture to `bits` per pixel (rounded as in Create; 1, 4
  // or 8 in the end) without error diffusion. The colour table is `palette`
  // (zero entries after it), biClrImportant is `colours`, and every pixel
  // takes the index of the nearest entry among the first `colours` entries
  // of that table: smallest squared distance, the lowest index on a tie.
  // False, picture unchanged, for a picture that is not 24 bits, a depth
  // above 8, colours outside 1 .. table size, or no memory.
  bool DecreaseBpp(int bits, const RgbQuad* palette, size_t paletteCount, int colours);

  // What DecreaseBpp does, with the 24-bit rows taken from elsewhere:
  // rowAt(y) gives stored row y (y = 0 the bottom) as blue, green, red
  // bytes, and the result replaces this container's picture. Spares a
  // 24-bit copy of a whole page when the rows are already in memory. With
  // `greyLevels` the rows are grey levels, one byte a pixel, each the pixel
  // of three such bytes.
  using RowSource = std::function<const uint8_t*(int32_t y)>;
  bool CreateReduced(int32_t width, int32_t height, const RowSource& rowAt, int bits,
                     const RgbQuad* palette, size_t paletteCount, int colours, int type,
                     bool greyLevels = false);

  // The container BMP encoder: a 14-byte file header ("BM", file size = 14 +
  // DIB size, reserved 0, pixel offset = 14 + 40 + colour table bytes), then
  // the DIB exactly as it is in memory. False for an empty container or a
  // failed write.
  bool EncodeBmp(std::FILE* file);

  // Settings.
  int JpegQuality() const { return m_quality; }
  void SetJpegQuality(int quality);  // clamped to 0 .. 255 (one byte)
  int32_t XDpi() const { return m_xDpi; }
  int32_t YDpi() const { return m_yDpi; }
  // Resolution in dots per inch, 1 to 1000000 (other values are ignored);
  // the header's pixels-per-metre fields follow.
  void SetXDpi(int32_t dpi);
  void SetYDpi(int32_t dpi);
  int TransparentIndex() const { return m_transparentIndex; }
  void SetTransparentIndex(int index) { m_transparentIndex = index; }
  int Frame() const { return m_frame; }
  void SetFrame(int frame) { m_frame = frame; }
  // One option per container type (0 for an unknown type).
  uint32_t CodecOption(int type) const;
  void SetCodecOption(int type, uint32_t option);
  // The zlib level of the PNG encoder, -1 (zlib's default, 6) to 9; other
  // values are ignored. The pixels written are the same at every level.
  int DeflateLevel() const { return m_deflateLevel; }
  void SetDeflateLevel(int level) {
    if (level >= -1 && level <= 9) m_deflateLevel = level;
  }

  const std::string& LastError() const { return m_lastError; }
  // Keeps at most 255 characters.
  void SetLastError(const std::string& text);

 private:
  size_t BitsOffset() const { return 40 + static_cast<size_t>(m_clrUsed) * 4; }
  bool Inside(int32_t x, int32_t y) const {
    return x >= 0 && y >= 0 && x < m_width && y < m_height;
  }
  void WriteResolution();
  // An empty container with this one's settings.
  CxImage SettingsOnly() const;

  std::vector<uint8_t> m_dib;
  int32_t m_width = 0;
  int32_t m_height = 0;
  int32_t m_bpp = 0;
  int32_t m_rowBytes = 0;
  uint32_t m_clrUsed = 0;
  int m_type = kCxImageUnknown;

  int m_quality = kCxDefaultQuality;
  int32_t m_xDpi = kCxDefaultDpi;
  int32_t m_yDpi = kCxDefaultDpi;
  int m_transparentIndex = -1;
  int m_frame = 0;
  std::array<uint32_t, kCxImageTypeCount> m_codecOptions{};
  int m_deflateLevel = -1;
  std::string m_lastError;
};

}  // namespace inkbrite
