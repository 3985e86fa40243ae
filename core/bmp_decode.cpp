// SPDX-License-Identifier: GPL-2.0-or-later
#include "core/bmp_decode.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <new>

#include "core/byte_io.h"
#include "core/dib_image.h"
#include "core/dib_layout.h"
#include "core/limits.h"
#include "platform/read_status.h"

namespace inkbrite {
namespace {

constexpr size_t kFileHeaderSize = 14;

enum Compression : uint32_t { kRgb = 0, kRle8 = 1, kRle4 = 2, kBitFields = 3 };

// What the file's headers say, checked against the file's size.
struct BmpInfo {
  uint32_t headerSize = 0;
  int32_t width = 0;
  int32_t height = 0;  // absolute value
  bool topDown = false;
  int32_t bitCount = 0;
  uint32_t compression = kRgb;
  uint32_t masks[3] = {0, 0, 0};  // red, green, blue
  size_t tableStart = 0;          // file offset of the colour table
  uint32_t entrySize = 4;
  uint32_t usedEntries = 0;  // colour table entries present before the rows
  size_t rowsStart = 0;      // file offset of the pixel data
};

bool IsKnownHeaderSize(uint32_t hs) {
  switch (hs) {
    case 12:   // OS/2 1.x core header
    case 16:   // OS/2 2.x, shortest form
    case 40:   // Windows 3 info header
    case 52:   // with red, green, blue masks
    case 56:   // with an alpha mask too
    case 64:   // OS/2 2.x, full form
    case 108:  // version 4
    case 124:  // version 5
      return true;
    default: return false;
  }
}

bool IsFileBitCount(int32_t bits) {
  switch (bits) {
    case 1:
    case 2:
    case 4:
    case 8:
    case 16:
    case 24:
    case 32: return true;
    default: return false;
  }
}

// The info header's size, width, height, depth, compression and declared
// colour count (set in clrUsed), within the size and pixel limits.
bool ReadInfoHeader(const uint8_t* d, size_t size, BmpInfo& info, uint32_t& clrUsed) {
  const uint8_t* h = d + kFileHeaderSize;
  info.headerSize = ReadLE32(h);
  if (!IsKnownHeaderSize(info.headerSize) || size < kFileHeaderSize + info.headerSize) return false;

  int64_t height = 0;
  if (info.headerSize == kCoreHeaderSize) {
    info.width = ReadLE16(h + 4);
    height = ReadLE16(h + 6);
    info.bitCount = ReadLE16(h + 10);
    info.entrySize = 3;
  } else {
    info.width = ReadLE32s(h + 4);
    height = ReadLE32s(h + 8);
    info.bitCount = ReadLE16(h + 14);
    info.compression = info.headerSize >= 20 ? ReadLE32(h + 16) : kRgb;
    clrUsed = info.headerSize >= 36 ? ReadLE32(h + 32) : 0;
    info.entrySize = 4;
  }
  info.topDown = height < 0;
  height = height < 0 ? -height : height;
  if (info.width <= 0 || info.width > kMaxDibDimension || height <= 0 ||
      height > kMaxDibDimension || !IsFileBitCount(info.bitCount)) {
    return false;
  }
  info.height = static_cast<int32_t>(height);
  // Pixel count and the file's size: an RLE file can claim a huge picture
  // in a few bytes (its deltas and end codes skip pixels), and the whole
  // picture would be allocated before that shows.
  return DecodeWithinLimits(info.width, info.height, size);
}

// The compressions read, each with the depths and row order it allows.
bool IsReadCompression(const BmpInfo& info) {
  switch (info.compression) {
    case kRgb: return true;
    case kRle8: return info.bitCount == 8 && !info.topDown;
    case kRle4: return info.bitCount == 4 && !info.topDown;
    case kBitFields: return info.bitCount == 16 || info.bitCount == 32;
    default: return false;  // embedded JPEG or PNG, alpha bit fields, OS/2 RLE24
  }
}

// The bit-field masks (none zero): inside a 52-byte or longer header, else
// right after the 40-byte header, moving the colour table's start past them.
bool ReadMasks(const uint8_t* d, size_t size, BmpInfo& info) {
  const uint8_t* m = d + kFileHeaderSize + 40;
  if (info.headerSize < 52) {
    if (size < info.tableStart + 12) return false;
    m = d + info.tableStart;
    info.tableStart += 12;
  }
  for (int i = 0; i < 3; ++i) {
    info.masks[i] = ReadLE32(m + 4 * i);
    if (info.masks[i] == 0) return false;
  }
  return true;
}

// Where the rows start and how many colour table entries lie before them.
bool PlaceTableAndRows(size_t size, uint32_t pixelOffset, uint32_t clrUsed, BmpInfo& info) {
  // Declared colour table. Up to 8 bits the pixels index it, so it must lie
  // inside the file; above that it is only a display hint, and a count with
  // no table behind it is ignored.
  uint64_t entries = clrUsed;
  if (info.bitCount <= 8 && (entries == 0 || info.headerSize == kCoreHeaderSize)) {
    entries = uint64_t{1} << info.bitCount;
  }
  uint64_t tableEnd = info.tableStart + entries * info.entrySize;
  if (tableEnd > size) {
    if (info.bitCount <= 8) return false;
    tableEnd = info.tableStart;
  }

  // The pixel data starts at the file header's offset when that is sound,
  // otherwise right after the colour table (or, above 8 bits, right after
  // the headers when a hinted table leaves no room for the rows).
  const bool compressed = info.compression == kRle8 || info.compression == kRle4;
  const uint64_t rowsBytes =
      static_cast<uint64_t>(DibImage::RowBytesFor(info.width, info.bitCount)) *
      static_cast<uint64_t>(info.height);
  auto fits = [&](uint64_t start) { return compressed ? start < size : start + rowsBytes <= size; };
  if (pixelOffset >= info.tableStart && fits(pixelOffset)) {
    info.rowsStart = pixelOffset;
  } else if (fits(tableEnd)) {
    info.rowsStart = static_cast<size_t>(tableEnd);
  } else if (info.bitCount > 8 && fits(info.tableStart)) {
    info.rowsStart = info.tableStart;
  } else {
    return false;
  }
  uint64_t used = entries;
  if (info.rowsStart < tableEnd) used = (info.rowsStart - info.tableStart) / info.entrySize;
  info.usedEntries = info.bitCount <= 8 ? static_cast<uint32_t>(std::min<uint64_t>(used, 256)) : 0;
  return true;
}

bool ParseBmpHeaders(const uint8_t* d, size_t size, BmpInfo& info) {
  if (size < kFileHeaderSize + kCoreHeaderSize || d[0] != 'B' || d[1] != 'M') return false;
  const uint32_t pixelOffset = ReadLE32(d + 10);
  uint32_t clrUsed = 0;
  if (!ReadInfoHeader(d, size, info, clrUsed) || !IsReadCompression(info)) return false;
  info.tableStart = kFileHeaderSize + info.headerSize;
  if (info.compression == kBitFields && !ReadMasks(d, size, info)) return false;
  return PlaceTableAndRows(size, pixelOffset, clrUsed, info);
}

// Colour lookup for indexed pixels: entries beyond the file's table are black.
std::array<RgbQuad, 256> ReadColourTable(const uint8_t* d, const BmpInfo& info) {
  std::array<RgbQuad, 256> lut{};
  for (uint32_t i = 0; i < info.usedEntries; ++i) {
    const uint8_t* e = d + info.tableStart + static_cast<size_t>(i) * info.entrySize;
    lut[i] = RgbQuad{e[0], e[1], e[2], 0};
  }
  return lut;
}

bool AllocateDib(std::vector<uint8_t>& out, uint64_t bytes) {
  if (bytes > kMaxDibBytes) return false;
  try {
    out.assign(static_cast<size_t>(bytes), 0);
  } catch (const std::bad_alloc&) {
    NoteReadFailure(ReadError::kOutOfMemory);
    return false;
  }
  return true;
}

// Uncompressed files keep their depth: the block gets the header (core or
// 40-byte), a full colour table for indexed depths, and bottom-up rows.
bool CopyUncompressed(const uint8_t* d, const BmpInfo& info, std::vector<uint8_t>& out) {
  const bool core = info.headerSize == kCoreHeaderSize;
  const uint32_t headerSize = core ? kCoreHeaderSize : kInfoHeaderSize;
  const uint32_t entries = DefaultColourEntries(info.bitCount);
  const uint32_t entrySize = core ? 3 : 4;
  const int64_t rowBytes = DibImage::RowBytesFor(info.width, info.bitCount);
  const uint64_t rowsBytes = static_cast<uint64_t>(rowBytes) * static_cast<uint64_t>(info.height);
  const size_t tableBytes = size_t{entries} * entrySize;
  if (!AllocateDib(out, headerSize + tableBytes + rowsBytes)) return false;

  uint8_t* p = out.data();
  if (core) {
    WriteLE32(p, kCoreHeaderSize);
    WriteLE16(p + 4, static_cast<uint16_t>(info.width));
    WriteLE16(p + 6, static_cast<uint16_t>(info.height));
    WriteLE16(p + 8, 1);
    WriteLE16(p + 10, static_cast<uint16_t>(info.bitCount));
  } else {
    WriteInfoHeader(p, info.width, info.height, info.bitCount, 0, 0);
  }
  const uint32_t copied = std::min(info.usedEntries, entries);
  std::memcpy(p + headerSize, d + info.tableStart, size_t{copied} * entrySize);

  uint8_t* rows = p + headerSize + tableBytes;
  const uint8_t* src = d + info.rowsStart;
  if (!info.topDown) {
    std::memcpy(rows, src, static_cast<size_t>(rowsBytes));
  } else {
    for (int32_t i = 0; i < info.height; ++i) {
      std::memcpy(rows + static_cast<size_t>(info.height - 1 - i) * static_cast<size_t>(rowBytes),
                  src + static_cast<size_t>(i) * static_cast<size_t>(rowBytes),
                  static_cast<size_t>(rowBytes));
    }
  }
  return true;
}

bool Allocate24(const BmpInfo& info, std::vector<uint8_t>& out, int64_t& rowBytes) {
  rowBytes = DibImage::RowBytesFor(info.width, 24);
  const uint64_t bytes =
      kInfoHeaderSize + static_cast<uint64_t>(rowBytes) * static_cast<uint64_t>(info.height);
  if (!AllocateDib(out, bytes)) return false;
  WriteInfoHeader(out.data(), info.width, info.height, 24, 0, 0);
  return true;
}

// RLE8 and RLE4: pairs (count, value) give runs; a zero count introduces an
// escape: 0 end of line, 1 end of bitmap, 2 delta (dx, dy), 3 and more a
// literal run padded to an even number of bytes. Rows count from the bottom.
bool DecodeRle(const uint8_t* d, size_t size, const BmpInfo& info, std::vector<uint8_t>& out) {
  int64_t rowBytes = 0;
  std::vector<uint8_t> dib;
  if (!Allocate24(info, dib, rowBytes)) return false;
  const std::array<RgbQuad, 256> lut = ReadColourTable(d, info);
  uint8_t* bits = dib.data() + kInfoHeaderSize;
  const bool rle4 = info.compression == kRle4;
  const int32_t w = info.width;
  const int32_t h = info.height;

  int32_t x = 0;
  int32_t y = 0;
  auto put = [&](unsigned index) {
    uint8_t* p =
        bits + static_cast<size_t>(y) * static_cast<size_t>(rowBytes) + static_cast<size_t>(x) * 3;
    const RgbQuad& c = lut[index];
    p[0] = c.blue;
    p[1] = c.green;
    p[2] = c.red;
    ++x;
  };

  size_t pos = info.rowsStart;
  for (;;) {
    if (size - pos < 2) return false;  // data ends without an end-of-bitmap code
    const unsigned count = d[pos];
    const unsigned value = d[pos + 1];
    pos += 2;
    if (count > 0) {
      if (y >= h || count > static_cast<unsigned>(w - x)) return false;
      for (unsigned i = 0; i < count; ++i) {
        put(rle4 ? ((i & 1) ? value & 0x0F : value >> 4) : value);
      }
    } else if (value == 0) {  // end of line
      x = 0;
      if (y < h) ++y;
    } else if (value == 1) {  // end of bitmap
      break;
    } else if (value == 2) {  // delta
      if (size - pos < 2) return false;
      const unsigned dx = d[pos];
      const unsigned dy = d[pos + 1];
      pos += 2;
      if (dx > static_cast<unsigned>(w - x) || dy > static_cast<unsigned>(h - y)) return false;
      x += static_cast<int32_t>(dx);
      y += static_cast<int32_t>(dy);
    } else {  // literal run of `value` pixels
      const size_t bytes = rle4 ? (value + 1) / 2 : value;
      if (size - pos < bytes || y >= h || value > static_cast<unsigned>(w - x)) return false;
      for (unsigned i = 0; i < value; ++i) {
        put(rle4 ? ((i & 1) ? d[pos + i / 2] & 0x0F : d[pos + i / 2] >> 4) : d[pos + i]);
      }
      pos += bytes + (bytes & 1);
      pos = std::min(pos, size);
    }
  }
  out = std::move(dib);
  return true;
}

// One bit-field channel: where its bits are and how to bring them to 0..255.
struct Channel {
  uint32_t mask = 0;
  int shift = 0;
  int width = 0;
  uint32_t max = 0;

  explicit Channel(uint32_t m) : mask(m) {
    shift = std::countr_zero(m);
    width = 32 - std::countl_zero(m >> shift);
    max = width >= 32 ? 0xFFFFFFFFu : (1u << width) - 1;
  }
  uint8_t Get(uint32_t v) const {
    const uint32_t c = (v & mask) >> shift;
    if (width == 8) return static_cast<uint8_t>(c);
    if (width > 8) return static_cast<uint8_t>(c >> (width - 8));
    return static_cast<uint8_t>((c * 255u + max / 2) / max);
  }
};

bool DecodeBitFields(const uint8_t* d, const BmpInfo& info, std::vector<uint8_t>& out) {
  int64_t rowBytes = 0;
  std::vector<uint8_t> dib;
  if (!Allocate24(info, dib, rowBytes)) return false;
  const Channel red(info.masks[0]);
  const Channel green(info.masks[1]);
  const Channel blue(info.masks[2]);
  const int64_t srcRowBytes = DibImage::RowBytesFor(info.width, info.bitCount);
  const bool wide = info.bitCount == 32;
  uint8_t* bits = dib.data() + kInfoHeaderSize;
  for (int32_t i = 0; i < info.height; ++i) {
    const uint8_t* src =
        d + info.rowsStart + static_cast<size_t>(i) * static_cast<size_t>(srcRowBytes);
    const int32_t stored = info.topDown ? info.height - 1 - i : i;
    uint8_t* dst = bits + static_cast<size_t>(stored) * static_cast<size_t>(rowBytes);
    for (int32_t x = 0; x < info.width; ++x) {
      const uint32_t v = wide ? ReadLE32(src + 4 * x) : ReadLE16(src + 2 * x);
      dst[0] = blue.Get(v);
      dst[1] = green.Get(v);
      dst[2] = red.Get(v);
      dst += 3;
    }
  }
  out = std::move(dib);
  return true;
}

}  // namespace

bool DecodeBmpInPlace(std::vector<uint8_t>& file, int* fileBitCount) {
  BmpInfo info;
  if (!ParseBmpHeaders(file.data(), file.size(), info)) return false;
  const uint32_t entries = DefaultColourEntries(info.bitCount);
  const bool packed = info.headerSize == kInfoHeaderSize && info.compression == kRgb &&
                      !info.topDown && info.usedEntries == entries &&
                      info.rowsStart == info.tableStart + size_t{entries} * 4;
  if (!packed) {
    std::vector<uint8_t> dib;
    if (!DecodeBmp(file.data(), file.size(), dib, fileBitCount)) return false;
    file = std::move(dib);
    return true;
  }
  // Already a packed bitmap after the file header: the header is rewritten
  // as DecodeBmp writes it, and the block moved down over the file header.
  const uint64_t rowsBytes =
      static_cast<uint64_t>(DibImage::RowBytesFor(info.width, info.bitCount)) *
      static_cast<uint64_t>(info.height);
  const uint64_t blockBytes = kInfoHeaderSize + uint64_t{entries} * 4 + rowsBytes;
  if (blockBytes > kMaxDibBytes) return false;
  WriteInfoHeader(file.data() + kFileHeaderSize, info.width, info.height, info.bitCount, 0, 0);
  std::memmove(file.data(), file.data() + kFileHeaderSize, static_cast<size_t>(blockBytes));
  file.resize(static_cast<size_t>(blockBytes));
  if (fileBitCount != nullptr) *fileBitCount = info.bitCount;
  return true;
}

bool DecodeBmp(const uint8_t* data, size_t size, std::vector<uint8_t>& dib, int* fileBitCount) {
  if (data == nullptr) return false;
  BmpInfo info;
  if (!ParseBmpHeaders(data, size, info)) return false;
  bool ok = false;
  switch (info.compression) {
    case kRle8:
    case kRle4: ok = DecodeRle(data, size, info, dib); break;
    case kBitFields: ok = DecodeBitFields(data, info, dib); break;
    default: ok = CopyUncompressed(data, info, dib); break;
  }
  if (ok && fileBitCount != nullptr) *fileBitCount = info.bitCount;
  return ok;
}

}  // namespace inkbrite
