// SPDX-License-Identifier: GPL-2.0-or-later
// BMP files: DibImage::LoadBmp and DibImage::SaveBmp.
#include <cstring>
#include <utility>
#include <vector>

#include "core/bmp_decode.h"
#include "core/byte_io.h"
#include "core/colour.h"
#include "core/dib_image.h"
#include "core/dib_layout.h"
#include "platform/file_io.h"

namespace inkbrite {

namespace {
constexpr size_t kBmpFileHeaderSize = 14;
static_assert(kMaxBmpFileBytes == kMaxDibBytes + (uint64_t{1} << 20));
}  // namespace

bool DibImage::LoadBmp(const std::filesystem::path& path, int* fileBitCount) {
  std::vector<uint8_t> block;
  return ReadFileBytes(path, kMaxBmpFileBytes, block) &&
         LoadBmpFileBytes(std::move(block), *this, fileBitCount);
}

bool LoadBmpFileBytes(std::vector<uint8_t> block, DibImage& image, int* fileBitCount) {
  // The file's bytes become the block: most files are a packed bitmap behind
  // a 14-byte file header.
  int bits = 0;
  if (!DecodeBmpInPlace(block, &bits)) return false;
  DibImage loaded;
  if (!loaded.Attach(std::move(block)) || !loaded.ConvertTo24Bit()) return false;
  image = std::move(loaded);
  if (fileBitCount != nullptr) *fileBitCount = bits;
  return true;
}

bool DibImage::SaveBmp(const std::filesystem::path& path, bool grey) const {
  if (IsEmpty() || HeaderSize() != kInfoHeaderSize) return false;
  DibLayout layout;
  if (!ParseDibLayout(m_dib.data(), m_dib.size(), layout)) return false;
  grey = grey && Is24Bit();

  // File header, then the info header with its image size filled in, then
  // the colour table and the rows straight from the block (greyed a row at
  // a time when asked): the page is never copied.
  const uint32_t tableBytes = static_cast<uint32_t>(layout.bitsOffset - kInfoHeaderSize);
  const uint32_t imageBytes =
      static_cast<uint32_t>(layout.rowBytes) * static_cast<uint32_t>(m_nHeight);
  const uint32_t offset = kBmpFileHeaderSize + kInfoHeaderSize + tableBytes;
  uint8_t headers[kBmpFileHeaderSize + kInfoHeaderSize] = {'B', 'M'};
  WriteLE32(headers + 2, offset + imageBytes);
  WriteLE32(headers + 6, 0);
  WriteLE32(headers + 10, offset);
  std::memcpy(headers + kBmpFileHeaderSize, m_dib.data(), kInfoHeaderSize);
  WriteLE32(headers + kBmpFileHeaderSize + 20, imageBytes);
  SafeFileWriter writer(path);
  if (!writer.Open() || !writer.Write(headers, sizeof headers)) return false;
  if (!grey) {
    return writer.Write(m_dib.data() + kInfoHeaderSize,
                        static_cast<size_t>(layout.totalBytes) - kInfoHeaderSize) &&
           writer.Commit();
  }
  // Stored order, bottom row first; the padding stays zero.
  std::vector<uint8_t> row(static_cast<size_t>(layout.rowBytes), 0);
  for (int32_t y = m_nHeight - 1; y >= 0; --y) {
    GreyscaleRow(Row(y), row.data(), m_nWidth);
    if (!writer.Write(row.data(), row.size())) return false;
  }
  return writer.Commit();
}

}  // namespace inkbrite
