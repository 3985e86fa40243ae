// SPDX-License-Identifier: GPL-2.0-or-later
// BMP files: DibImage::LoadBmp and DibImage::SaveBmp.
#include <cstring>
#include <new>

#include "core/bmp_decode.h"
#include "core/byte_io.h"
#include "core/dib_image.h"
#include "core/dib_layout.h"
#include "platform/file_io.h"

namespace inkbrite {

namespace {
// No sound BMP is larger than its largest picture plus headers and a full
// colour table; a bigger file is refused without being read.
constexpr uint64_t kMaxBmpFileBytes = kMaxDibBytes + (uint64_t{1} << 20);
}  // namespace

bool DibImage::LoadBmp(const std::filesystem::path& path, int* fileBitCount) {
  std::vector<uint8_t> file;
  if (!ReadFileBytes(path, kMaxBmpFileBytes, file)) return false;
  std::vector<uint8_t> block;
  int bits = 0;
  if (!DecodeBmp(file.data(), file.size(), block, &bits)) return false;
  file = {};
  DibImage loaded;
  if (!loaded.Attach(std::move(block)) || !loaded.ConvertTo24Bit()) return false;
  *this = std::move(loaded);
  if (fileBitCount != nullptr) *fileBitCount = bits;
  return true;
}

bool DibImage::SaveBmp(const std::filesystem::path& path) const {
  if (IsEmpty() || HeaderSize() != kInfoHeaderSize) return false;
  DibLayout layout;
  if (!ParseDibLayout(m_dib.data(), m_dib.size(), layout)) return false;

  // File header, then the info header with its image size filled in, the
  // colour table and the rows, all in one piece.
  const uint32_t tableBytes = static_cast<uint32_t>(layout.bitsOffset - kInfoHeaderSize);
  const uint32_t imageBytes =
      static_cast<uint32_t>(layout.rowBytes) * static_cast<uint32_t>(m_nHeight);
  const uint32_t offset = 14 + kInfoHeaderSize + tableBytes;
  std::vector<uint8_t> out;
  try {
    out.resize(static_cast<size_t>(offset) + imageBytes);
  } catch (const std::bad_alloc&) {
    return false;
  }
  out[0] = 'B';
  out[1] = 'M';
  WriteLE32(out.data() + 2, offset + imageBytes);
  WriteLE32(out.data() + 6, 0);
  WriteLE32(out.data() + 10, offset);
  std::memcpy(out.data() + 14, m_dib.data(), static_cast<size_t>(layout.totalBytes));
  WriteLE32(out.data() + 14 + 20, imageBytes);
  return WriteFileBytesSafely(path, out.data(), out.size());
}

}  // namespace inkbrite
