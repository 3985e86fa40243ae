// SPDX-License-Identifier: GPL-2.0-or-later
// Reading PNG files into 24-bit pictures.
//
// The whole file is read into memory and decoded from there in two guarded
// steps: the header with the transformations, then (after the picture has
// been allocated outside libpng's error path) the rows.
#include <cstring>
#include <vector>

#include "core/byte_io.h"
#include "core/limits.h"
#include "formats/decode_guard.h"
#include "formats/png/png_codec.h"
#include "formats/png/png_pvt.h"

namespace inkbrite {

namespace {

using png_detail::PngReadHandle;
using png_detail::RunGuarded;

// The largest file read into memory: the bound of a picture's pixels.
constexpr uint64_t kMaxPngFileBytes = kMaxDibBytes;

struct MemorySource {
  const uint8_t* data;
  size_t size;
  size_t position;
};

// libpng asks for exact byte counts; a truncated or lying file makes it ask
// for more than is left, which is refused as a library error.
void ReadFromMemory(png_structp png, png_bytep out, size_t count) {
  auto* source = static_cast<MemorySource*>(png_get_io_ptr(png));
  if (count > source->size - source->position) png_error(png, "Unexpected end of file");
  std::memcpy(out, source->data + source->position, count);
  source->position += count;
}

// What the chunk walk finds before libpng reads anything.
struct ChunkSummary {
  bool fits = true;        // no chunk before IEND claims more than the file has
  uint64_t rawBytes = 0;   // filtered image data IHDR calls for (0: no IHDR seen)
  uint64_t idatBytes = 0;  // compressed image data present
};

// Bytes of filtered (not yet decompressed) image data a non-interlaced
// picture needs: a filter byte and the packed samples of every row.
// Interlaced pictures need a little more. 0 for an unknown colour type.
uint64_t RawImageBytes(uint32_t width, uint32_t height, int bitDepth, int colourType) {
  int channels = 0;
  switch (colourType) {
    case 0:
    case 3: channels = 1; break;
    case 2: channels = 3; break;
    case 4: channels = 2; break;
    case 6: channels = 4; break;
    default: return 0;
  }
  const uint64_t rowBits = uint64_t{width} * static_cast<uint64_t>(channels * bitDepth);
  return uint64_t{height} * (1 + (rowBits + 7) / 8);
}

// Walks the chunks up to IEND. A chunk before IEND that claims more bytes
// than the file has left marks a truncated file that would fail anyway, but
// only after libpng had allocated and cleared a buffer of the claimed size
// for a text or profile chunk: up to 2 GB for a file of 57 bytes. The walk
// costs a few reads per chunk.
ChunkSummary SummariseChunks(const uint8_t* data, size_t size) {
  ChunkSummary summary;
  size_t at = 8;  // past the signature, which libpng checks
  while (at <= size && size - at >= 8) {
    const size_t length = ReadBE32(data + at);
    const size_t left = size - at - 8;         // after the length and type
    if (length > left || left - length < 4) {  // data and CRC
      summary.fits = false;
      break;
    }
    const uint8_t* type = data + at + 4;
    if (std::memcmp(type, "IEND", 4) == 0) break;
    if (std::memcmp(type, "IHDR", 4) == 0 && length >= 13 && summary.rawBytes == 0) {
      const uint8_t* h = type + 4;
      summary.rawBytes = RawImageBytes(ReadBE32(h), ReadBE32(h + 4), h[8], h[9]);
    } else if (std::memcmp(type, "IDAT", 4) == 0) {
      summary.idatBytes += length;
    }
    at += 12 + length;
  }
  return summary;  // a shorter tail is left to libpng to report
}

struct PngLayout {
  uint32_t width = 0;
  uint32_t height = 0;
  int greySource = 0;
  int passes = 1;
  size_t rowBytes = 0;  // of a transformed row
  int channels = 0;
  int bitDepth = 0;
};

// Reads the header and asks for the transformations that deliver 8-bit
// blue-green-red rows.
void ReadHeader(png_structp png, png_infop info, PngLayout& layout) {
  // Beyond these sizes IHDR itself is refused, before any row memory.
  png_set_user_limits(png, kMaxDibDimension, kMaxDibDimension);
  png_read_info(png, info);
  const int colourType = png_get_color_type(png, info);
  const int bitDepth = png_get_bit_depth(png, info);
  layout.width = png_get_image_width(png, info);
  layout.height = png_get_image_height(png, info);
  // A palette of 1, 2 or 4 bits is taken for a bilevel or grey scan, whatever
  // its colours.
  layout.greySource = colourType == PNG_COLOR_TYPE_GRAY ||
                      colourType == PNG_COLOR_TYPE_GRAY_ALPHA ||
                      (colourType == PNG_COLOR_TYPE_PALETTE && bitDepth < 8);

  // Transparent pixels are composited over black. libpng 1.6 composites
  // before it strips the alpha channel, and tRNS colour keys become alpha
  // first, so keyed pixels come out black. With no screen gamma set, files
  // of gamma 1.0 (or none) are composited without gamma correction.
  png_color_16 black{};
  png_set_background(png, &black, PNG_BACKGROUND_GAMMA_SCREEN, 0, 1.0);
  if (bitDepth == 16) png_set_strip_16(png);
  if (colourType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
  if (bitDepth < 8) png_set_expand(png);
  if (png_get_valid(png, info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(png);
  if (colourType == PNG_COLOR_TYPE_GRAY || colourType == PNG_COLOR_TYPE_GRAY_ALPHA) {
    png_set_gray_to_rgb(png);
  }
  png_set_strip_alpha(png);
  png_set_bgr(png);
  layout.passes = png_set_interlace_handling(png);  // 7 for Adam7, else 1
  png_read_update_info(png, info);
  layout.rowBytes = png_get_rowbytes(png, info);
  layout.channels = png_get_channels(png, info);
  layout.bitDepth = png_get_bit_depth(png, info);
}

// Reads every pass top row first into the picture's stored rows, then the
// chunks after the image data.
void ReadRows(png_structp png, uint8_t* topRow, ptrdiff_t stride, uint32_t height, int passes) {
  for (int pass = 0; pass < passes; ++pass) {
    for (uint32_t y = 0; y < height; ++y) {
      png_read_row(png, topRow + static_cast<ptrdiff_t>(y) * stride, nullptr);
    }
  }
  png_read_end(png, nullptr);
}

int Decode(const uint8_t* data, size_t size, DibImage& image, int* greySource) {
  const ChunkSummary chunks = SummariseChunks(data, size);
  if (!chunks.fits) return 0;
  PngReadHandle handle;
  if (handle.png == nullptr || handle.info == nullptr) return 0;
  png_structp png = handle.png;
  png_infop info = handle.info;
  MemorySource source{data, size, 0};
  png_set_read_fn(png, &source, ReadFromMemory);

  PngLayout layout;
  if (!RunGuarded(png, [&] { ReadHeader(png, info, layout); })) return 0;
  // The transformations must have given 3 bytes per pixel: anything else
  // would make libpng write past the picture's rows.
  if (layout.channels != 3 || layout.bitDepth != 8 ||
      layout.rowBytes != static_cast<size_t>(layout.width) * 3) {
    return 0;
  }
  // Beyond the limits, or more image data than the compressed data present
  // can inflate to (deflate gives at most kMaxDeflateRatio bytes per byte):
  // such a file fails when its data runs out, and is refused before the
  // picture is allocated instead.
  if (!DecodeWithinLimits(layout.width, layout.height, size) ||
      (chunks.rawBytes + kMaxDeflateRatio - 1) / kMaxDeflateRatio > chunks.idatBytes) {
    return 0;
  }
  if (!image.Create(static_cast<int32_t>(layout.width), static_cast<int32_t>(layout.height), 24)) {
    return 0;
  }
  uint8_t* top = image.Row(0);
  const ptrdiff_t stride = -static_cast<ptrdiff_t>(image.RowBytes());
  if (!RunGuarded(png, [&] { ReadRows(png, top, stride, layout.height, layout.passes); })) {
    image.Clear();
    return 0;
  }
  if (greySource != nullptr) *greySource = layout.greySource;
  return 1;
}

}  // namespace

int DecodePngBytes(const uint8_t* data, size_t size, DibImage& image, int* greySource) {
  return GuardedDecode(image, [&] {
    return data == nullptr || size == 0 ? 0 : Decode(data, size, image, greySource);
  });
}

int ReadPngFile(FileProbe& file, DibImage& image, int* greySource) {
  return ReadFileAndDecode(file, kMaxPngFileBytes, DecodePngBytes, image, greySource);
}

int ReadPngFile(const std::filesystem::path& path, DibImage& image, int* greySource) {
  FileProbe file(path);
  return ReadPngFile(file, image, greySource);
}

}  // namespace inkbrite
