// SPDX-License-Identifier: GPL-2.0-or-later
#include "formats/plain_pixels.h"

#include <string>

#include "core/colour.h"

namespace inkbrite {

bool PagePixels(const DibImage& page, bool grey, PlainPixels& out) {
  if (!page.Is24Bit()) return false;
  out.width = page.Width();
  out.height = page.Height();
  out.channels = grey ? 1 : 3;
  out.bytes.resize(out.RowBytes() * static_cast<size_t>(out.height));
  for (int32_t y = 0; y < out.height; ++y) {
    const uint8_t* in = page.Row(y);
    uint8_t* row = out.bytes.data() + out.RowBytes() * static_cast<size_t>(y);
    if (grey) {
      GreyLevelsRow(in, row, out.width);
      continue;
    }
    for (int32_t x = 0; x < out.width; ++x) {
      row[3 * x] = in[3 * x + 2];
      row[3 * x + 1] = in[3 * x + 1];
      row[3 * x + 2] = in[3 * x];
    }
  }
  return true;
}

bool ContainerPixels(const CxImage& image, PlainPixels& out) {
  if (!image.IsValid() || image.Bpp() > 8) return false;
  const std::vector<RgbQuad> palette = image.GetPalette();
  bool grey = true;
  for (const RgbQuad& c : palette) grey = grey && c.red == c.green && c.green == c.blue;
  out.width = image.Width();
  out.height = image.Height();
  out.channels = grey ? 1 : 3;
  out.bytes.resize(out.RowBytes() * static_cast<size_t>(out.height));
  for (int32_t y = 0; y < out.height; ++y) {
    uint8_t* row = out.bytes.data() + out.RowBytes() * static_cast<size_t>(y);
    const int32_t stored = out.height - 1 - y;
    for (int32_t x = 0; x < out.width; ++x) {
      const RgbQuad c = image.GetPixelColor(x, stored);
      if (grey) {
        row[x] = c.blue;
      } else {
        row[3 * x] = c.red;
        row[3 * x + 1] = c.green;
        row[3 * x + 2] = c.blue;
      }
    }
  }
  return true;
}

bool EncodeContainer(CxImage& image, std::FILE* file, std::string_view format,
                     const ContainerEncoder& encode) {
  try {
    PlainPixels pixels;
    if (!ContainerPixels(image, pixels)) {
      image.SetLastError("Encode: " + std::string(format) + " needs a palette picture");
      return false;
    }
    std::vector<uint8_t> bytes;
    if (!encode(pixels, bytes)) {
      image.SetLastError("Encode: " + std::string(format) + " encoder error");
      return false;
    }
    if (std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size()) {
      image.SetLastError("Encode: cannot write the file");
      return false;
    }
    return true;
  } catch (...) {
    image.SetLastError("Encode: out of memory");
    return false;
  }
}

}  // namespace inkbrite
