// SPDX-License-Identifier: GPL-2.0-or-later
#include "core/dib_layout.h"

#include "core/byte_io.h"
#include "core/dib_image.h"

namespace inkbrite {

uint32_t DefaultColourEntries(int32_t bitCount) {
  return bitCount <= 8 && bitCount > 0 ? (1u << bitCount) : 0u;
}

namespace {

bool IsSupportedBitCount(int32_t bits) {
  switch (bits) {
    case 1:
    case 2:
    case 4:
    case 8:
    case 15:
    case 16:
    case 24:
    case 32: return true;
    default: return false;
  }
}

}  // namespace

bool ParseDibLayout(const uint8_t* data, size_t size, DibLayout& layout) {
  if (data == nullptr || size < kCoreHeaderSize) return false;
  DibLayout l;
  l.headerSize = ReadLE32(data);
  uint32_t clrUsed = 0;
  if (l.headerSize == kInfoHeaderSize) {
    if (size < kInfoHeaderSize) return false;
    l.width = ReadLE32s(data + 4);
    l.height = ReadLE32s(data + 8);
    l.bitCount = ReadLE16(data + 14);
    if (ReadLE32(data + 16) != 0) return false;  // compressed blocks are decoded by the readers
    clrUsed = ReadLE32(data + 32);
    l.entrySize = 4;
  } else if (l.headerSize == kCoreHeaderSize) {
    l.width = ReadLE16(data + 4);
    l.height = ReadLE16(data + 6);
    l.bitCount = ReadLE16(data + 10);
    l.entrySize = 3;
  } else {
    return false;
  }
  if (l.width <= 0 || l.height <= 0 || l.width > kMaxDibDimension || l.height > kMaxDibDimension ||
      !IsSupportedBitCount(l.bitCount)) {
    return false;
  }
  l.colourEntries = clrUsed != 0 ? clrUsed : DefaultColourEntries(l.bitCount);
  l.tableOffset = l.headerSize;
  l.rowBytes = DibImage::RowBytesFor(l.width, l.bitCount);
  // Every quantity below fits in 64 bits: entries < 2^32, entry size 4,
  // rows < 2^17 * 2^16 bytes.
  const uint64_t tableBytes = uint64_t{l.colourEntries} * l.entrySize;
  const uint64_t rowsBytes = static_cast<uint64_t>(l.rowBytes) * static_cast<uint64_t>(l.height);
  l.totalBytes = l.headerSize + tableBytes + rowsBytes;
  if (l.totalBytes > kMaxDibBytes || l.totalBytes > size) return false;
  l.bitsOffset = static_cast<size_t>(l.headerSize + tableBytes);
  layout = l;
  return true;
}

void WriteInfoHeader(uint8_t* p, int32_t width, int32_t height, int32_t bitCount,
                     uint32_t colourEntries, uint32_t imageBytes) {
  WriteLE32(p + 0, kInfoHeaderSize);
  WriteLE32(p + 4, static_cast<uint32_t>(width));
  WriteLE32(p + 8, static_cast<uint32_t>(height));
  WriteLE16(p + 12, 1);  // planes
  WriteLE16(p + 14, static_cast<uint16_t>(bitCount));
  WriteLE32(p + 16, 0);  // uncompressed
  WriteLE32(p + 20, imageBytes);
  WriteLE32(p + 24, 0);  // resolution
  WriteLE32(p + 28, 0);
  WriteLE32(p + 32, colourEntries);
  WriteLE32(p + 36, 0);  // important colours
}

}  // namespace inkbrite
