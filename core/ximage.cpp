// SPDX-License-Identifier: GPL-2.0-or-later
#include "core/ximage.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <utility>

#include "core/byte_io.h"
#include "core/dib_layout.h"
#include "platform/read_status.h"

namespace inkbrite {

namespace {

constexpr uint32_t kInfoHeaderBytes = 40;
constexpr uint32_t kFileHeaderBytes = 14;

// Header field offsets inside the 40-byte info header.
constexpr size_t kOffXPelsPerMeter = 24;
constexpr size_t kOffYPelsPerMeter = 28;
constexpr size_t kOffClrImportant = 36;

int32_t RoundDepth(int32_t depth) {
  if (depth <= 1) return 1;
  if (depth <= 4) return 4;
  if (depth <= 8) return 8;
  return 24;
}

// Nearest colour table entry for each colour, searched once per distinct
// colour.
//
// The search is exact: the smallest squared distance wins and, among equal
// distances, the lowest index, which is what a scan of the table in index
// order that keeps the first smallest distance (and stops at an exact match)
// gives. To avoid trying every entry, the entries are sorted by green and
// the scan walks outward from the colour's green, stopping on each side once
// the green difference alone exceeds the best distance found. Entries that
// repeat an earlier colour can never win and are dropped.
//
// Results are kept in a two-level memo: the top 5 bits of each channel pick
// a block of 512 results (the low 3 bits of each channel), allocated the
// first time a colour of that block appears. A grey page touches a few dozen
// blocks; a colour scan touches only the blocks of the colours it holds.
class NearestEntrySearch {
 public:
  NearestEntrySearch(const RgbQuad* table, size_t count) : m_blockOf(kTopBlocks, kNoBlock) {
    m_entries.reserve(count);
    for (size_t i = 0; i < count; ++i) {
      m_entries.push_back(
          Entry{table[i].red, table[i].green, table[i].blue, static_cast<int32_t>(i)});
    }
    std::sort(m_entries.begin(), m_entries.end(), [](const Entry& a, const Entry& b) {
      if (a.g != b.g) return a.g < b.g;
      if (a.r != b.r) return a.r < b.r;
      if (a.b != b.b) return a.b < b.b;
      return a.index < b.index;
    });
    m_entries.erase(std::unique(m_entries.begin(), m_entries.end(),
                                [](const Entry& a, const Entry& b) {
                                  return a.r == b.r && a.g == b.g && a.b == b.b;
                                }),
                    m_entries.end());
    for (const Entry& e : m_entries) m_greens.push_back(e.g);
  }

  uint8_t Find(uint8_t r, uint8_t g, uint8_t b) {
    const size_t top = (static_cast<size_t>(r >> 3) << 10) | (static_cast<size_t>(g >> 3) << 5) |
                       static_cast<size_t>(b >> 3);
    int32_t block = m_blockOf[top];
    if (block == kNoBlock) {
      block = static_cast<int32_t>(m_memo.size() / kBlockSize);
      m_memo.resize(m_memo.size() + kBlockSize, 0);
      m_blockOf[top] = block;
    }
    const size_t low = (static_cast<size_t>(r & 7) << 6) | (static_cast<size_t>(g & 7) << 3) |
                       static_cast<size_t>(b & 7);
    uint16_t& slot = m_memo[static_cast<size_t>(block) * kBlockSize + low];
    if (slot == 0) slot = static_cast<uint16_t>(Search(r, g, b) + 1);
    return static_cast<uint8_t>(slot - 1);
  }

 private:
  struct Entry {
    int32_t r, g, b;
    int32_t index;
  };
  static constexpr size_t kTopBlocks = size_t{1} << 15;
  static constexpr size_t kBlockSize = 512;
  static constexpr int32_t kNoBlock = -1;

  int32_t Search(int32_t r, int32_t g, int32_t b) const {
    int32_t bestDist = std::numeric_limits<int32_t>::max();
    int32_t bestIndex = 0;
    auto consider = [&](const Entry& e) {
      const int32_t dr = e.r - r, dg = e.g - g, db = e.b - b;
      const int32_t dist = dr * dr + dg * dg + db * db;
      if (dist < bestDist || (dist == bestDist && e.index < bestIndex)) {
        bestDist = dist;
        bestIndex = e.index;
      }
    };
    const size_t start = static_cast<size_t>(std::lower_bound(m_greens.begin(), m_greens.end(), g) -
                                             m_greens.begin());
    // Upward, then downward; a side ends when its green difference squared
    // is greater than the best distance (equal may still tie on index).
    for (size_t i = start; i < m_entries.size(); ++i) {
      const int32_t dg = m_entries[i].g - g;
      if (dg * dg > bestDist) break;
      consider(m_entries[i]);
      if (bestDist == 0) return bestIndex;  // exact match: colours are unique
    }
    for (size_t i = start; i-- > 0;) {
      const int32_t dg = g - m_entries[i].g;
      if (dg * dg > bestDist) break;
      consider(m_entries[i]);
    }
    return bestIndex;
  }

  std::vector<Entry> m_entries;
  std::vector<int32_t> m_greens;
  std::vector<int32_t> m_blockOf;
  std::vector<uint16_t> m_memo;  // 0 = not searched yet, else index + 1
};

}  // namespace

int32_t DpiToPixelsPerMetre(int32_t dpi) {
  return static_cast<int32_t>(std::lround(static_cast<double>(dpi) * 39.37007874015748));
}

bool CxImage::Create(int32_t width, int32_t height, int32_t depth, int type) {
  Destroy();
  if (width <= 0 || height <= 0) {
    SetLastError("CxImage::Create : width and height must be greater than zero");
    return false;
  }
  if (width > kMaxDibDimension || height > kMaxDibDimension) {
    SetLastError("CxImage::Create : width and height must be at most 65535");
    return false;
  }
  const int32_t bpp = RoundDepth(depth);
  const uint32_t entries = DefaultColourEntries(bpp);
  const int64_t rowBytes = DibImage::RowBytesFor(width, bpp);
  const uint64_t imageBytes = static_cast<uint64_t>(rowBytes) * static_cast<uint64_t>(height);
  const uint64_t total = kInfoHeaderBytes + uint64_t{entries} * 4 + imageBytes;
  if (total > kMaxDibBytes) {
    SetLastError("CxImage::Create can't allocate memory");
    return false;
  }
  try {
    m_dib.assign(static_cast<size_t>(total), 0);
  } catch (const std::bad_alloc&) {
    NoteReadFailure(ReadError::kOutOfMemory);
    SetLastError("CxImage::Create can't allocate memory");
    return false;
  }
  WriteInfoHeader(m_dib.data(), width, height, bpp, entries, static_cast<uint32_t>(imageBytes));
  m_width = width;
  m_height = height;
  m_bpp = bpp;
  m_rowBytes = static_cast<int32_t>(rowBytes);
  m_clrUsed = entries;
  m_type = type;
  WriteResolution();
  return true;
}

CxImage CxImage::SettingsOnly() const {
  CxImage c;
  c.m_quality = m_quality;
  c.m_xDpi = m_xDpi;
  c.m_yDpi = m_yDpi;
  c.m_transparentIndex = m_transparentIndex;
  c.m_frame = m_frame;
  c.m_codecOptions = m_codecOptions;
  c.m_deflateLevel = m_deflateLevel;
  return c;
}

void CxImage::Destroy() {
  std::vector<uint8_t>().swap(m_dib);
  m_width = m_height = m_bpp = m_rowBytes = 0;
  m_clrUsed = 0;
}

uint8_t* CxImage::StoredRow(int32_t y) {
  if (m_dib.empty() || y < 0 || y >= m_height) return nullptr;
  return m_dib.data() + BitsOffset() + static_cast<size_t>(y) * static_cast<size_t>(m_rowBytes);
}

const uint8_t* CxImage::StoredRow(int32_t y) const {
  return const_cast<CxImage*>(this)->StoredRow(y);
}

void CxImage::SetPixelColor(int32_t x, int32_t y, uint8_t blue, uint8_t green, uint8_t red) {
  if (!Inside(x, y) || m_bpp != 24) return;
  uint8_t* p = StoredRow(y) + static_cast<size_t>(x) * 3;
  p[0] = blue;
  p[1] = green;
  p[2] = red;
}

uint8_t CxImage::GetPixelIndex(int32_t x, int32_t y) const {
  if (!Inside(x, y) || m_bpp > 8) return 0;
  const uint8_t* row = StoredRow(y);
  switch (m_bpp) {
    case 8: return row[x];
    case 4: return static_cast<uint8_t>((row[x >> 1] >> ((x & 1) ? 0 : 4)) & 0x0F);
    default: return static_cast<uint8_t>((row[x >> 3] >> (7 - (x & 7))) & 1);
  }
}

void CxImage::SetPixelIndex(int32_t x, int32_t y, uint8_t index) {
  if (!Inside(x, y) || m_bpp > 8 || index >= m_clrUsed) return;
  uint8_t* row = StoredRow(y);
  switch (m_bpp) {
    case 8: row[x] = index; break;
    case 4: {
      const int shift = (x & 1) ? 0 : 4;
      uint8_t& byte = row[x >> 1];
      byte = static_cast<uint8_t>((byte & ~(0x0F << shift)) | (index << shift));
      break;
    }
    default: {
      const int shift = 7 - (x & 7);
      uint8_t& byte = row[x >> 3];
      byte = static_cast<uint8_t>((byte & ~(1 << shift)) | (index << shift));
      break;
    }
  }
}

RgbQuad CxImage::GetPixelColor(int32_t x, int32_t y) const {
  if (!Inside(x, y)) return RgbQuad{};
  if (m_bpp == 24) {
    const uint8_t* p = StoredRow(y) + static_cast<size_t>(x) * 3;
    return RgbQuad{p[0], p[1], p[2], 0};
  }
  return GetPaletteColor(GetPixelIndex(x, y));
}

std::vector<RgbQuad> CxImage::GetPalette() const {
  std::vector<RgbQuad> palette(m_clrUsed);
  for (size_t i = 0; i < palette.size(); ++i) palette[i] = GetPaletteColor(i);
  return palette;
}

RgbQuad CxImage::GetPaletteColor(size_t index) const {
  if (index >= m_clrUsed) return RgbQuad{};
  const uint8_t* e = m_dib.data() + kInfoHeaderBytes + index * 4;
  return RgbQuad{e[0], e[1], e[2], e[3]};
}

void CxImage::SetPalette(const RgbQuad* entries, size_t count) {
  for (size_t i = 0; i < m_clrUsed; ++i) {
    SetPaletteColor(i, i < count && entries != nullptr ? entries[i] : RgbQuad{});
  }
}

void CxImage::SetPaletteColor(size_t index, RgbQuad colour) {
  if (index >= m_clrUsed) return;
  uint8_t* e = m_dib.data() + kInfoHeaderBytes + index * 4;
  e[0] = colour.blue;
  e[1] = colour.green;
  e[2] = colour.red;
  e[3] = 0;
}

uint32_t CxImage::ClrImportant() const {
  return m_dib.empty() ? 0 : ReadLE32(m_dib.data() + kOffClrImportant);
}

void CxImage::SetClrImportant(uint32_t count) {
  if (!m_dib.empty()) WriteLE32(m_dib.data() + kOffClrImportant, count);
}

bool CxImage::GrayScale() {
  if (!IsValid()) {
    SetLastError("CxImage::GrayScale : no picture");
    return false;
  }
  CxImage grey = SettingsOnly();
  if (!grey.Create(m_width, m_height, 8, m_type)) {
    SetLastError(grey.LastError());
    return false;
  }
  for (size_t i = 0; i < 256; ++i) {
    const uint8_t v = static_cast<uint8_t>(i);
    grey.SetPaletteColor(i, RgbQuad{v, v, v, 0});
  }
  for (int32_t y = 0; y < m_height; ++y) {
    uint8_t* dst = grey.StoredRow(y);
    if (m_bpp == 24) {
      const uint8_t* src = StoredRow(y);
      for (int32_t x = 0; x < m_width; ++x, src += 3) {
        dst[x] = static_cast<uint8_t>((src[0] + src[1] + src[2]) / 3);
      }
    } else {
      for (int32_t x = 0; x < m_width; ++x) {
        const RgbQuad c = GetPixelColor(x, y);
        dst[x] = static_cast<uint8_t>((c.blue + c.green + c.red) / 3);
      }
    }
  }
  *this = std::move(grey);
  return true;
}

bool CxImage::IsGrayScale() const {
  if (!IsValid() || m_clrUsed == 0) return false;
  for (size_t i = 0; i < m_clrUsed; ++i) {
    const RgbQuad c = GetPaletteColor(i);
    if (c.blue != i || c.green != i || c.red != i) return false;
  }
  return true;
}

bool CxImage::DecreaseBpp(int bits, const RgbQuad* palette, size_t paletteCount, int colours) {
  if (!IsValid() || m_bpp != 24) {
    SetLastError("CxImage::DecreaseBpp : needs a 24-bit picture");
    return false;
  }
  CxImage reduced = SettingsOnly();
  const RowSource rows = [this](int32_t y) { return static_cast<const uint8_t*>(StoredRow(y)); };
  if (!reduced.CreateReduced(m_width, m_height, rows, bits, palette, paletteCount, colours,
                             m_type)) {
    SetLastError(reduced.LastError());
    return false;
  }
  *this = std::move(reduced);
  return true;
}

bool CxImage::CreateReduced(int32_t width, int32_t height, const RowSource& rowAt, int bits,
                            const RgbQuad* palette, size_t paletteCount, int colours, int type,
                            bool greyLevels) {
  const int32_t bpp = RoundDepth(bits);
  if (bpp > 8 || colours < 1 || static_cast<uint32_t>(colours) > DefaultColourEntries(bpp)) {
    SetLastError("CxImage::DecreaseBpp : wrong depth or number of colours");
    return false;
  }
  CxImage reduced = SettingsOnly();
  if (!reduced.Create(width, height, bpp, type)) {
    SetLastError(reduced.LastError());
    return false;
  }
  reduced.SetPalette(palette, paletteCount);
  reduced.SetClrImportant(static_cast<uint32_t>(colours));

  try {
    std::vector<RgbQuad> candidates = reduced.GetPalette();
    candidates.resize(static_cast<size_t>(colours));
    NearestEntrySearch nearest(candidates.data(), candidates.size());
    std::array<int16_t, 256> greyEntry;
    greyEntry.fill(-1);
    const int32_t step = greyLevels ? 1 : 3;
    for (int32_t y = 0; y < height; ++y) {
      const uint8_t* src = rowAt(y);
      uint8_t* dst = reduced.StoredRow(y);
      for (int32_t x = 0; x < width; ++x, src += step) {
        uint8_t index;
        if (greyLevels || (src[0] == src[1] && src[1] == src[2])) {  // one entry per level
          int16_t& entry = greyEntry[src[0]];
          if (entry < 0) entry = nearest.Find(src[0], src[0], src[0]);
          index = static_cast<uint8_t>(entry);
        } else {
          index = nearest.Find(src[2], src[1], src[0]);
        }
        switch (bpp) {
          case 8: dst[x] = index; break;
          case 4: dst[x >> 1] |= static_cast<uint8_t>(index << ((x & 1) ? 0 : 4)); break;
          default: dst[x >> 3] |= static_cast<uint8_t>(index << (7 - (x & 7))); break;
        }
      }
    }
  } catch (const std::bad_alloc&) {
    SetLastError("CxImage::DecreaseBpp can't allocate memory");
    return false;
  }
  *this = std::move(reduced);
  return true;
}

bool CxImage::EncodeBmp(std::FILE* file) {
  if (!IsValid()) {
    SetLastError("BMP encoder: no picture");
    return false;
  }
  if (file == nullptr) {
    SetLastError("BMP encoder: no file");
    return false;
  }
  // The DIB is at most 2^31 bytes, so every field fits its 32 bits.
  uint8_t header[kFileHeaderBytes] = {'B', 'M'};
  WriteLE32(header + 2, static_cast<uint32_t>(kFileHeaderBytes + m_dib.size()));
  WriteLE32(header + 6, 0);
  WriteLE32(header + 10, static_cast<uint32_t>(kFileHeaderBytes + BitsOffset()));
  if (std::fwrite(header, 1, sizeof header, file) != sizeof header ||
      std::fwrite(m_dib.data(), 1, m_dib.size(), file) != m_dib.size()) {
    SetLastError("BMP encoder: write failed");
    return false;
  }
  return true;
}

void CxImage::SetJpegQuality(int quality) { m_quality = std::clamp(quality, 0, 255); }

void CxImage::SetXDpi(int32_t dpi) {
  if (dpi < 1 || dpi > 1000000) return;
  m_xDpi = dpi;
  WriteResolution();
}

void CxImage::SetYDpi(int32_t dpi) {
  if (dpi < 1 || dpi > 1000000) return;
  m_yDpi = dpi;
  WriteResolution();
}

void CxImage::WriteResolution() {
  if (m_dib.empty()) return;
  WriteLE32(m_dib.data() + kOffXPelsPerMeter, static_cast<uint32_t>(DpiToPixelsPerMetre(m_xDpi)));
  WriteLE32(m_dib.data() + kOffYPelsPerMeter, static_cast<uint32_t>(DpiToPixelsPerMetre(m_yDpi)));
}

uint32_t CxImage::CodecOption(int type) const {
  return type > 0 && type < kCxImageTypeCount ? m_codecOptions[static_cast<size_t>(type)] : 0;
}

void CxImage::SetCodecOption(int type, uint32_t option) {
  if (type > 0 && type < kCxImageTypeCount) m_codecOptions[static_cast<size_t>(type)] = option;
}

void CxImage::SetLastError(const std::string& text) {
  m_lastError = text.substr(0, kCxMaxErrorLength);
}

}  // namespace inkbrite
