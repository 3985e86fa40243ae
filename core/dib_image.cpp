// SPDX-License-Identifier: GPL-2.0-or-later
#include "core/dib_image.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <utility>

#include "core/byte_io.h"
#include "core/dib_layout.h"
#include "platform/read_status.h"

namespace inkbrite {

DibImage::DibImage(const DibImage& other)
    : m_dib(other.m_dib),
      m_palette(other.m_palette),
      m_nWidth(other.m_nWidth),
      m_nHeight(other.m_nHeight),
      m_nRowBytes(other.m_nRowBytes),
      m_nBitCount(other.m_nBitCount),
      m_nBitsOffset(other.m_nBitsOffset),
      m_bounds(other.m_bounds),
      m_greyLevels(other.m_greyLevels) {}

DibImage& DibImage::operator=(const DibImage& other) {
  if (this != &other) {
    DibImage copy(other);
    *this = std::move(copy);
  }
  return *this;
}

DibImage::DibImage(DibImage&& other) noexcept
    : m_dib(std::move(other.m_dib)),
      m_palette(std::move(other.m_palette)),
      m_nWidth(other.m_nWidth),
      m_nHeight(other.m_nHeight),
      m_nRowBytes(other.m_nRowBytes),
      m_nBitCount(other.m_nBitCount),
      m_nBitsOffset(other.m_nBitsOffset),
      m_bounds(other.m_bounds),
      m_greyLevels(other.m_greyLevels) {
  other.Clear();
}

DibImage& DibImage::operator=(DibImage&& other) noexcept {
  if (this != &other) {
    m_dib = std::move(other.m_dib);
    m_palette = std::move(other.m_palette);
    m_nWidth = other.m_nWidth;
    m_nHeight = other.m_nHeight;
    m_nRowBytes = other.m_nRowBytes;
    m_nBitCount = other.m_nBitCount;
    m_nBitsOffset = other.m_nBitsOffset;
    m_bounds = other.m_bounds;
    m_greyLevels = other.m_greyLevels;
    other.Clear();
  }
  return *this;
}

void DibImage::Clear() {
  std::vector<uint8_t>().swap(m_dib);
  std::vector<RgbQuad>().swap(m_palette);
  m_nWidth = m_nHeight = m_nRowBytes = m_nBitCount = 0;
  m_nBitsOffset = 0;
  m_bounds = DibRect{};
  m_greyLevels = false;
}

bool DibImage::CopyFrom(const DibImage& source) {
  if (source.IsEmpty()) return false;
  try {
    *this = source;
  } catch (const std::bad_alloc&) {
    NoteReadFailure(ReadError::kOutOfMemory);
    return false;
  }
  return true;
}

bool DibImage::Create(int32_t width, int32_t height, int32_t bitCount) {
  Clear();
  if (bitCount != 24 || width <= 0 || height <= 0 || width > kMaxDibDimension ||
      height > kMaxDibDimension) {
    return false;
  }
  const int64_t rowBytes = RowBytesFor(width, bitCount);
  const uint64_t total =
      kInfoHeaderSize + static_cast<uint64_t>(rowBytes) * static_cast<uint64_t>(height);
  if (total > kMaxDibBytes) return false;
  std::vector<uint8_t> block;
  try {
    block.assign(static_cast<size_t>(total), 0);
  } catch (const std::bad_alloc&) {
    NoteReadFailure(ReadError::kOutOfMemory);
    return false;
  }
  WriteInfoHeader(block.data(), width, height, bitCount, 0, 0);
  return Attach(std::move(block));
}

bool DibImage::CreateGreyLevels(int32_t width, int32_t height) {
  Clear();
  if (width <= 0 || height <= 0 || width > kMaxDibDimension || height > kMaxDibDimension) {
    return false;
  }
  constexpr uint32_t kEntries = 256;
  const int64_t rowBytes = RowBytesFor(width, 8);
  const uint64_t total = kInfoHeaderSize + kEntries * 4 +
                         static_cast<uint64_t>(rowBytes) * static_cast<uint64_t>(height);
  if (total > kMaxDibBytes) return false;
  std::vector<uint8_t> block;
  try {
    block.assign(static_cast<size_t>(total), 0);
  } catch (const std::bad_alloc&) {
    NoteReadFailure(ReadError::kOutOfMemory);
    return false;
  }
  WriteInfoHeader(block.data(), width, height, 8, kEntries, 0);
  uint8_t* table = block.data() + kInfoHeaderSize;
  for (uint32_t i = 0; i < kEntries; ++i) std::memset(table + 4 * i, static_cast<int>(i), 3);
  if (!Attach(std::move(block))) return false;
  m_greyLevels = true;
  return true;
}

bool DibImage::Attach(std::vector<uint8_t> block) {
  Clear();
  DibLayout layout;
  if (!ParseDibLayout(block.data(), block.size(), layout)) return false;
  m_dib = std::move(block);
  m_nWidth = layout.width;
  m_nHeight = layout.height;
  m_nBitCount = layout.bitCount;
  m_nRowBytes = static_cast<int32_t>(layout.rowBytes);
  m_nBitsOffset = layout.bitsOffset;
  m_bounds = DibRect{0, 0, m_nWidth, m_nHeight};
  BuildPalette();
  return true;
}

void DibImage::BuildPalette() {
  DibLayout layout;
  m_palette.clear();
  if (!ParseDibLayout(m_dib.data(), m_dib.size(), layout)) return;
  // A logical palette holds at most 256 entries; indices of at most 8 bits
  // never reach further.
  const uint32_t count = std::min<uint32_t>(layout.colourEntries, 256);
  m_palette.resize(count);
  const uint8_t* table = m_dib.data() + layout.tableOffset;
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* e = table + static_cast<size_t>(i) * layout.entrySize;
    m_palette[i] = RgbQuad{e[0], e[1], e[2], 0};
  }
}

bool DibImage::FromPackedDib(const uint8_t* data, size_t size) {
  Clear();
  if (data == nullptr) return false;
  std::vector<uint8_t> block;
  try {
    block.assign(data, data + size);
  } catch (const std::bad_alloc&) {
    NoteReadFailure(ReadError::kOutOfMemory);
    Create(1, 1, 24);
    return false;
  }
  return Attach(std::move(block)) && ConvertTo24Bit();
}

std::vector<uint8_t> DibImage::Detach() {
  std::vector<uint8_t> block = std::move(m_dib);
  Clear();
  return block;
}

uint32_t DibImage::HeaderSize() const { return m_dib.empty() ? 0 : ReadLE32(m_dib.data()); }

namespace {

// Converts one stored row of an indexed picture. `shift` walks from the most
// significant bits of each byte: the leftmost pixel is in the high bits.
template <int Bits>
void IndexedRowTo24(const uint8_t* src, uint8_t* dst, int32_t width,
                    const std::array<RgbQuad, 256>& lut) {
  constexpr int kPerByte = 8 / Bits;
  constexpr unsigned kMask = (1u << Bits) - 1;
  for (int32_t x = 0; x < width; ++x) {
    const int shift = 8 - Bits * (x % kPerByte + 1);
    const unsigned index = (src[x / kPerByte] >> shift) & kMask;
    const RgbQuad& c = lut[index];
    dst[0] = c.blue;
    dst[1] = c.green;
    dst[2] = c.red;
    dst += 3;
  }
}

template <>
void IndexedRowTo24<8>(const uint8_t* src, uint8_t* dst, int32_t width,
                       const std::array<RgbQuad, 256>& lut) {
  for (int32_t x = 0; x < width; ++x) {
    const RgbQuad& c = lut[src[x]];
    dst[0] = c.blue;
    dst[1] = c.green;
    dst[2] = c.red;
    dst += 3;
  }
}

// 15 and 16-bit words are both read as 5-5-5 with a plain shift, so the
// brightest level is 248, not 255.
void Rgb555RowTo24(const uint8_t* src, uint8_t* dst, int32_t width) {
  for (int32_t x = 0; x < width; ++x) {
    const unsigned w = ReadLE16(src + 2 * static_cast<size_t>(x));
    dst[0] = static_cast<uint8_t>((w & 0x1F) << 3);
    dst[1] = static_cast<uint8_t>(((w >> 5) & 0x1F) << 3);
    dst[2] = static_cast<uint8_t>(((w >> 10) & 0x1F) << 3);
    dst += 3;
  }
}

void Rgb32RowTo24(const uint8_t* src, uint8_t* dst, int32_t width) {
  for (int32_t x = 0; x < width; ++x) {
    dst[0] = src[0];
    dst[1] = src[1];
    dst[2] = src[2];
    src += 4;
    dst += 3;
  }
}

}  // namespace

bool DibImage::ConvertTo24Bit() {
  if (IsEmpty()) return false;
  if (m_nBitCount == 24) return true;
  if (m_nBitCount <= 14 && m_palette.empty()) return false;

  // Indices beyond the colour table give black rather than reading past it.
  std::array<RgbQuad, 256> lut{};
  std::copy(m_palette.begin(), m_palette.end(), lut.begin());

  DibImage result;
  if (!result.Create(m_bounds.Width(), m_bounds.Height(), 24)) return false;
  for (int32_t y = 0; y < m_nHeight; ++y) {
    const uint8_t* src = Row(y);
    uint8_t* dst = result.Row(y);
    switch (m_nBitCount) {
      case 1: IndexedRowTo24<1>(src, dst, m_nWidth, lut); break;
      case 2: IndexedRowTo24<2>(src, dst, m_nWidth, lut); break;
      case 4: IndexedRowTo24<4>(src, dst, m_nWidth, lut); break;
      case 8: IndexedRowTo24<8>(src, dst, m_nWidth, lut); break;
      case 15:
      case 16: Rgb555RowTo24(src, dst, m_nWidth); break;
      case 32: Rgb32RowTo24(src, dst, m_nWidth); break;
      default: return false;
    }
  }
  *this = std::move(result);
  return true;
}

bool DibImage::Rotate90(bool clockwise) {
  if (!Is24Bit()) return false;
  DibImage result;
  if (!result.Create(m_nHeight, m_nWidth, 24)) return false;
  const int32_t w = m_nWidth;
  const int32_t h = m_nHeight;
  for (int32_t y = 0; y < h; ++y) {
    const uint8_t* src = Row(y);
    // Clockwise: source row y becomes column h-1-y, read top to bottom.
    // Anticlockwise: it becomes column y, read bottom to top.
    const size_t column = static_cast<size_t>(clockwise ? h - 1 - y : y) * 3;
    for (int32_t x = 0; x < w; ++x) {
      uint8_t* dst = result.Row(clockwise ? x : w - 1 - x) + column;
      dst[0] = src[0];
      dst[1] = src[1];
      dst[2] = src[2];
      src += 3;
    }
  }
  *this = std::move(result);
  return true;
}

bool DibImage::MirrorHorizontal() {
  if (!Is24Bit()) return false;
  for (int32_t y = 0; y < m_nHeight; ++y) {
    uint8_t* left = Row(y);
    uint8_t* right = left + static_cast<size_t>(m_nWidth - 1) * 3;
    while (left < right) {
      std::swap(left[0], right[0]);
      std::swap(left[1], right[1]);
      std::swap(left[2], right[2]);
      left += 3;
      right -= 3;
    }
  }
  return true;
}

bool DibImage::IsGrey() const {
  if (IsGreyLevels()) return true;
  if (!Is24Bit()) return false;
  for (int32_t y = 0; y < m_nHeight; ++y) {
    const uint8_t* p = Row(y);
    for (int32_t x = 0; x < m_nWidth; ++x, p += 3) {
      if (p[0] != p[1] || p[1] != p[2]) return false;
    }
  }
  return true;
}

}  // namespace inkbrite
