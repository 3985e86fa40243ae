// SPDX-License-Identifier: GPL-2.0-or-later
// The container's PNG encoder: reduced-colour pages at their own depth.
#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "formats/png/png_codec.h"
#include "formats/png/png_pvt.h"

namespace inkbrite {

namespace {

using png_detail::PngWriteHandle;
using png_detail::RunGuarded;

// Below this many pixels the palette is cut to the entries in use; above,
// scanning every pixel costs more than the few bytes it saves.
constexpr int64_t kPaletteCutMaxPixels = 65536;

// What goes into the file, gathered before libpng's guarded region.
struct PngPlan {
  uint32_t width = 0;
  uint32_t height = 0;
  int bitDepth = 8;
  int colourType = PNG_COLOR_TYPE_RGB;
  int interlace = PNG_INTERLACE_NONE;
  std::array<png_color, 256> palette{};
  int paletteCount = 0;
  bool background = false;
  png_color_16 backgroundColour{};
  png_uint_32 xPixelsPerMetre = 0;
  png_uint_32 yPixelsPerMetre = 0;
};

int HighestIndexUsed(const CxImage& image) {
  int highest = 0;
  for (int32_t y = 0; y < image.Height(); ++y) {
    for (int32_t x = 0; x < image.Width(); ++x) {
      const int index = image.GetPixelIndex(x, y);
      if (index > highest) highest = index;
    }
  }
  return highest;
}

// A palette file's bKGD holds an index: the entry nearest to white (the
// lowest index on a tie). The grey modes make their lightest entry pure
// white, so it is found exactly there.
uint8_t NearestToWhite(const png_color* palette, int count) {
  int best = 0;
  int bestDistance = 3 * 255 * 255 + 1;
  for (int i = 0; i < count; ++i) {
    const int dr = 255 - palette[i].red;
    const int dg = 255 - palette[i].green;
    const int db = 255 - palette[i].blue;
    const int distance = dr * dr + dg * dg + db * db;
    if (distance < bestDistance) {
      best = i;
      bestDistance = distance;
    }
  }
  return static_cast<uint8_t>(best);
}

PngPlan MakePlan(const CxImage& image) {
  PngPlan plan;
  plan.width = static_cast<uint32_t>(image.Width());
  plan.height = static_cast<uint32_t>(image.Height());
  const int channels = image.Bpp() > 8 ? 3 : 1;
  plan.bitDepth = image.Bpp() / channels;
  plan.interlace = image.CodecOption(kCxImagePng) == 1 ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE;
  if (image.PaletteSize() > 0) {
    plan.colourType = PNG_COLOR_TYPE_PALETTE;
    const std::vector<RgbQuad> table = image.GetPalette();
    int count = static_cast<int>(std::min<size_t>(table.size(), plan.palette.size()));
    const int64_t pixels = int64_t{image.Width()} * image.Height();
    if (count > 2 && pixels < kPaletteCutMaxPixels) count = HighestIndexUsed(image) + 1;
    for (int i = 0; i < count; ++i) {
      plan.palette[i] = png_color{table[i].red, table[i].green, table[i].blue};
    }
    plan.paletteCount = count;
  }
  if (image.TransparentIndex() < 0) {
    plan.background = true;
    plan.backgroundColour.red = plan.backgroundColour.green = plan.backgroundColour.blue = 255;
    plan.backgroundColour.gray = 255;
    if (plan.colourType == PNG_COLOR_TYPE_PALETTE) {
      plan.backgroundColour.index = NearestToWhite(plan.palette.data(), plan.paletteCount);
    }
  }
  plan.xPixelsPerMetre = static_cast<png_uint_32>(DpiToPixelsPerMetre(image.XDpi()));
  plan.yPixelsPerMetre = static_cast<png_uint_32>(DpiToPixelsPerMetre(image.YDpi()));
  return plan;
}

// Header chunks, then the rows top row first, each the container's stored
// row as it is: palette rows are already packed as PNG packs them (first
// pixel in the high bits), 24-bit rows are reordered by libpng.
void EncodeContainer(png_structp png, png_infop info, const PngPlan& plan, CxImage& image) {
  png_set_IHDR(png, info, plan.width, plan.height, plan.bitDepth, plan.colourType, plan.interlace,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (plan.colourType == PNG_COLOR_TYPE_PALETTE) {
    png_set_PLTE(png, info, plan.palette.data(), plan.paletteCount);
  }
  if (plan.background) png_set_bKGD(png, info, &plan.backgroundColour);
  png_set_pHYs(png, info, plan.xPixelsPerMetre, plan.yPixelsPerMetre, PNG_RESOLUTION_METER);
  if (plan.colourType == PNG_COLOR_TYPE_RGB) png_set_bgr(png);
  png_write_info(png, info);
  const int passes = png_set_interlace_handling(png);
  for (int pass = 0; pass < passes; ++pass) {
    for (uint32_t y = 0; y < plan.height; ++y) {
      png_write_row(png, image.StoredRow(static_cast<int32_t>(plan.height - 1 - y)));
    }
  }
  png_write_end(png, info);
}

}  // namespace

bool EncodePng(CxImage& image, std::FILE* file) {
  if (!image.IsValid() || file == nullptr) {
    image.SetLastError("Error saving PNG file");
    return false;
  }
  try {
    const PngPlan plan = MakePlan(image);
    PngWriteHandle handle;
    if (handle.png == nullptr) {
      image.SetLastError("Failed to create PNG structure");
      return false;
    }
    if (handle.info == nullptr) {
      image.SetLastError("Failed to initialize PNG info structure");
      return false;
    }
    png_structp png = handle.png;
    png_infop info = handle.info;
    png_set_write_fn(png, file, png_detail::WriteToFile, png_detail::FlushFile);
    png_set_compression_level(png, image.DeflateLevel());  // -1: zlib's default
    if (!RunGuarded(png, [&] { EncodeContainer(png, info, plan, image); })) {
      image.SetLastError("Error saving PNG file");
      return false;
    }
    return true;
  } catch (...) {  // no memory for the palette copy
    image.SetLastError("Error saving PNG file");
    return false;
  }
}

}  // namespace inkbrite
