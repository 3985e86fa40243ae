// SPDX-License-Identifier: GPL-2.0-or-later
#include "formats/thumbnail_image.h"

#include <algorithm>
#include <exception>

#include "formats/detect.h"
#include "formats/image_file.h"
#include "formats/jpeg/jpeg_codec.h"
#include "formats/jpeg/jpeg_pvt.h"
#include "formats/png/png_pvt.h"

namespace inkbrite {

namespace {

void AppendToString(png_structp png, png_bytep data, size_t size) {
  auto* out = static_cast<std::string*>(png_get_io_ptr(png));
  out->append(reinterpret_cast<const char*>(data), size);
}
void NoFlush(png_structp) {}

}  // namespace

bool ReadJpegReduced(const uint8_t* data, size_t size, int32_t atLeast, DibImage& image) {
  if (data == nullptr || size < 10) return false;
  jpeg_detail::MemoryInput input(data, size);
  // The smallest scale whose longer side still reaches `atLeast`.
  const uint64_t wanted = static_cast<uint64_t>(std::max(atLeast, 1));
  auto choose = [wanted](JpegSize full) {
    const uint64_t longer = static_cast<uint64_t>(std::max(full.width, full.height));
    for (int denominator : {8, 4, 2}) {
      if ((longer + denominator - 1) / denominator >= wanted) return denominator;
    }
    return 1;
  };
  return jpeg_detail::ReadJpegStreamReduced(input, choose, image, nullptr, nullptr) != 0;
}

bool ShrinkToFit(DibImage& image, int32_t box) {
  if (!image.Is24Bit() || box <= 0) return false;
  int32_t width = 0, height = 0;
  image.FitSize(box, box, width, height);
  return image.ResizeTo(width, height, 0);
}

bool MakeThumbnail(const uint8_t* data, size_t size, std::string_view nameHint, int32_t box,
                   DibImage& thumbnail) {
  try {
    const bool jpeg = DetectImageFormatInMemory(data, size, nameHint) == kFormatJpeg;
    // A JPEG file the reduced decoder refuses still gets the full reader.
    if (!(jpeg && ReadJpegReduced(data, size, box, thumbnail))) {
      int grey = 0;
      if (LoadImageMemory(data, size, nameHint, thumbnail, &grey) == 0) return false;
    }
    return ShrinkToFit(thumbnail, box);
  } catch (const std::exception&) {  // no memory
    thumbnail.Clear();
    return false;
  }
}

std::string EncodePngWithText(const DibImage& image,
                              const std::vector<std::pair<std::string, std::string>>& text) {
  std::string out;
  if (!image.Is24Bit()) return out;
  try {
    png_detail::PngWriteHandle handle;
    if (handle.png == nullptr || handle.info == nullptr) return {};
    png_structp png = handle.png;
    png_infop info = handle.info;
    std::vector<png_text> fields(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
      fields[i].compression = PNG_TEXT_COMPRESSION_NONE;
      fields[i].key = const_cast<char*>(text[i].first.c_str());
      fields[i].text = const_cast<char*>(text[i].second.c_str());
      fields[i].text_length = text[i].second.size();
    }
    png_text* fieldData = fields.data();
    const int fieldCount = static_cast<int>(fields.size());
    std::string* target = &out;
    const DibImage* picture = &image;
    const bool done = png_detail::RunGuarded(png, [&] {
      png_set_write_fn(png, target, AppendToString, NoFlush);
      png_set_compression_level(png, 6);
      png_set_IHDR(png, info, static_cast<uint32_t>(picture->Width()),
                   static_cast<uint32_t>(picture->Height()), 8, PNG_COLOR_TYPE_RGB,
                   PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
      if (fieldCount > 0) png_set_text(png, info, fieldData, fieldCount);
      png_set_bgr(png);
      png_write_info(png, info);
      for (int32_t y = 0; y < picture->Height(); ++y) {
        png_write_row(png, const_cast<uint8_t*>(picture->Row(y)));
      }
      png_write_end(png, nullptr);
    });
    if (!done) return {};
  } catch (const std::exception&) {
    return {};
  }
  return out;
}

}  // namespace inkbrite
