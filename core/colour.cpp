// SPDX-License-Identifier: GPL-2.0-or-later
// Colour modes: DibImage::Greyscale, DibImage::ToContainer,
// DibImage::ReduceColours and the reduction they share.
#include "core/colour.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

#include "core/octree.h"
#include "core/ximage.h"

namespace inkbrite {

namespace {

// Weights of the stored bytes: blue 54, green 183, red 19. Blue and red weigh
// the reverse of the usual luma weights on purpose: greyed pages must match
// the established output byte for byte. The weights add up to 256, so a grey
// pixel stays exactly as it was and greying twice changes nothing.
constexpr std::array<uint32_t, 256> WeightTable(uint32_t weight) {
  std::array<uint32_t, 256> table{};
  for (uint32_t i = 0; i < 256; ++i) table[i] = i * weight;
  return table;
}
constexpr std::array<uint32_t, 256> kBlueWeight = WeightTable(54);
constexpr std::array<uint32_t, 256> kGreenWeight = WeightTable(183);
constexpr std::array<uint32_t, 256> kRedWeight = WeightTable(19);
static_assert(54 + 183 + 19 == 256);

struct Reduction {
  int bits;
  int colours;
  int colourBits;
};
constexpr Reduction kReductions[] = {
    {8, 256, 7}, {4, 16, 8}, {4, 8, 8},
    {2, 4, 8},   {1, 2, 0},  // fixed black and white palette, no quantiser
};

const Reduction* FindReduction(int bits, int colours) {
  for (const Reduction& r : kReductions) {
    if (r.bits == bits && r.colours == colours) return &r;
  }
  return nullptr;
}

// Entries of the palette buffer the quantiser's table is written into.
size_t PaletteBufferEntries(int bits) { return bits == 8 ? 256 : bits == 4 ? 16 : 4; }

// Among the first `colours` entries, the one whose red, green and blue are
// all strictly above those of the best so far (starting from black) becomes
// white. With ascending grey palettes that is the lightest grey.
void LightestToWhite(CxImage& image, int colours) {
  RgbQuad best{};
  size_t bestIndex = 0;
  bool found = false;
  const size_t n = std::min(static_cast<size_t>(colours), image.PaletteSize());
  for (size_t i = 0; i < n; ++i) {
    const RgbQuad c = image.GetPaletteColor(i);
    if (c.red > best.red && c.green > best.green && c.blue > best.blue) {
      best = c;
      bestIndex = i;
      found = true;
    }
  }
  if (found) image.SetPaletteColor(bestIndex, RgbQuad{255, 255, 255, 0});
}

}  // namespace

bool IsValidReduction(int bits, int colours) { return FindReduction(bits, colours) != nullptr; }

namespace {

uint8_t GreyLevel(const uint8_t* bgr) {
  return static_cast<uint8_t>((kBlueWeight[bgr[0]] + kGreenWeight[bgr[1]] + kRedWeight[bgr[2]]) >>
                              8);
}

}  // namespace

void GreyscaleRow(const uint8_t* src, uint8_t* dst, int32_t width) {
  for (int32_t x = 0; x < width; ++x, src += 3, dst += 3) {
    const uint8_t v = GreyLevel(src);
    dst[0] = v;
    dst[1] = v;
    dst[2] = v;
  }
}

void GreyLevelsRow(const uint8_t* src, uint8_t* dst, int32_t width) {
  for (int32_t x = 0; x < width; ++x, src += 3) dst[x] = GreyLevel(src);
}

bool DibImage::Greyscale() {
  if (IsGreyLevels()) return true;  // grey already
  if (!Is24Bit()) return false;
  for (int32_t y = 0; y < m_nHeight; ++y) GreyscaleRow(Row(y), Row(y), m_nWidth);
  return true;
}

bool DibImage::ToContainer(bool grey, CxImage& container) const {
  if (!Is24Bit()) return false;
  // The same bottom-up rows (stored row y is row height - 1 - y from the
  // top); the row padding stays zero. A grey container gets the levels
  // Greyscale gives, straight from the page's rows, under a grey ramp.
  if (!container.Create(m_nWidth, m_nHeight, grey ? 8 : 24, container.Type())) return false;
  if (grey) {
    for (size_t i = 0; i < 256; ++i) {
      const uint8_t v = static_cast<uint8_t>(i);
      container.SetPaletteColor(i, RgbQuad{v, v, v, 0});
    }
    for (int32_t y = 0; y < m_nHeight; ++y) {
      GreyLevelsRow(Row(m_nHeight - 1 - y), container.StoredRow(y), m_nWidth);
    }
    return true;
  }
  const size_t pixelBytes = static_cast<size_t>(m_nWidth) * 3;
  for (int32_t y = 0; y < m_nHeight; ++y) {
    std::memcpy(container.StoredRow(y), Row(m_nHeight - 1 - y), pixelBytes);
  }
  return true;
}

namespace {

// The quantiser's tree for the grey levels of stored rows: a grey page has
// at most 256 colours, and their counts, with the order in which each first
// appears, give the tree that adding every pixel would give.
template <typename Levels>
void AddGreyLevels(OctreeQuantiser& quantiser, int32_t width, int32_t height, Levels levelsOf) {
  std::array<uint64_t, 256> count{};
  std::array<uint8_t, 256> order{};
  size_t seen = 0;
  for (int32_t y = 0; y < height; ++y) {
    const uint8_t* levels = levelsOf(y);
    for (int32_t x = 0; x < width; ++x) {
      const uint8_t v = levels[x];
      if (count[v]++ == 0) order[seen++] = v;
    }
  }
  for (size_t i = 0; i < seen; ++i) {
    const uint8_t v = order[i];
    quantiser.AddColour(v, v, v, count[v]);
  }
}

}  // namespace

bool ReduceToContainer(const DibImage& image, bool grey, int bits, int colours, CxImage& out) {
  const Reduction* reduction = FindReduction(bits, colours);
  const bool levels = image.IsGreyLevels();
  if (reduction == nullptr || (!image.Is24Bit() && !levels)) return false;

  // The pixels go to the quantiser and to the palette mapping straight from
  // the page's rows, stored order (bottom row first, left to right), greyed
  // on the way when asked: the same pixels in the same order as a 24-bit
  // container copy of the page would give, without a second page in memory.
  // A page of grey levels is its 24-bit page, greyed or not.
  const int32_t width = image.Width();
  const int32_t height = image.Height();
  CxImage work;
  try {
    std::vector<uint8_t> greyRow(grey && !levels ? static_cast<size_t>(width) * 3 : 0);
    // A page of grey levels hands the palette mapping its levels as they are.
    const CxImage::RowSource rows = [&](int32_t y) -> const uint8_t* {
      const uint8_t* src = image.Row(height - 1 - y);
      if (!grey || levels) return src;
      GreyscaleRow(src, greyRow.data(), width);
      return greyRow.data();
    };
    std::vector<RgbQuad> palette;
    if (reduction->colourBits == 0) {
      palette = {RgbQuad{0, 0, 0, 0}, RgbQuad{255, 255, 255, 0}};
    } else {
      OctreeQuantiser quantiser(std::max(colours, 16), reduction->colourBits);
      if (grey && levels) {
        AddGreyLevels(quantiser, width, height,
                      [&](int32_t y) { return image.Row(height - 1 - y); });
      } else if (grey) {
        std::vector<uint8_t> row(static_cast<size_t>(width));
        AddGreyLevels(quantiser, width, height, [&](int32_t y) {
          GreyLevelsRow(image.Row(height - 1 - y), row.data(), width);
          return row.data();
        });
      } else if (levels) {
        std::vector<uint8_t> wide(static_cast<size_t>(width) * 3);
        for (int32_t y = 0; y < height; ++y) {
          const uint8_t* src = rows(y);
          for (int32_t x = 0; x < width; ++x) {
            std::memset(&wide[3 * static_cast<size_t>(x)], src[x], 3);
          }
          quantiser.AddRow(wide.data(), width);
        }
      } else {
        for (int32_t y = 0; y < height; ++y) quantiser.AddRow(rows(y), width);
      }
      palette = quantiser.ColourTable(colours);
      palette.resize(PaletteBufferEntries(bits));  // the zeroed buffer
    }
    if (!work.CreateReduced(width, height, rows, bits, palette.data(), palette.size(), colours,
                            kCxImageUnknown, levels)) {
      return false;
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
  if (grey && colours < 16) LightestToWhite(work, colours);
  if (!work.IsValid()) return false;
  out = std::move(work);
  return true;
}

bool DibImage::ReduceColours(bool grey, int bits, int colours) {
  CxImage reduced;
  if (!ReduceToContainer(*this, grey, bits, colours, reduced)) return false;
  // Expanded into a separate image first: should the copy fail, this page
  // stays as it was instead of becoming a 1 x 1 image.
  DibImage result;
  if (!result.FromPackedDib(reduced.Dib(), reduced.DibSize())) return false;
  *this = std::move(result);
  return true;
}

}  // namespace inkbrite
