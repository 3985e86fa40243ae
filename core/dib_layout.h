// SPDX-License-Identifier: GPL-2.0-or-later
// Where things are in a packed DIB block, checked against the block's size.
// Internal to the image core.
#pragma once

#include <cstddef>
#include <cstdint>

namespace inkbrite {

inline constexpr uint32_t kInfoHeaderSize = 40;  // BITMAPINFOHEADER
inline constexpr uint32_t kCoreHeaderSize = 12;  // BITMAPCOREHEADER

struct DibLayout {
  uint32_t headerSize = 0;  // 40 or 12
  int32_t width = 0;
  int32_t height = 0;  // always positive: rows are stored bottom-up
  int32_t bitCount = 0;
  uint32_t colourEntries = 0;  // entries in the colour table
  uint32_t entrySize = 0;      // 4 after a 40-byte header, 3 after a core header
  size_t tableOffset = 0;      // = headerSize
  size_t bitsOffset = 0;       // first byte of the bottom row
  int64_t rowBytes = 0;
  uint64_t totalBytes = 0;  // header + table + rows
};

// Number of colour table entries the header implies: biClrUsed, or 2, 4, 16,
// 256 for 1, 2, 4, 8 bits when it is 0 (always so after a core header), and
// none above 8 bits unless biClrUsed says otherwise.
uint32_t DefaultColourEntries(int32_t bitCount);

// Reads and checks the header of a packed DIB of `size` bytes: a 40-byte or
// core header, a bottom-up uncompressed picture of 1, 2, 4, 8, 15, 16, 24 or
// 32 bits within the dimension and byte limits, whose colour table and rows
// all lie inside the block. False for anything else.
bool ParseDibLayout(const uint8_t* data, size_t size, DibLayout& layout);

// Writes a 40-byte header for an uncompressed bottom-up picture.
void WriteInfoHeader(uint8_t* p, int32_t width, int32_t height, int32_t bitCount,
                     uint32_t colourEntries, uint32_t imageBytes);

}  // namespace inkbrite
