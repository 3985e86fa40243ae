// SPDX-License-Identifier: GPL-2.0-or-later
#include "formats/thumbnail_image.h"

#include <algorithm>
#include <cstring>
#include <exception>

#include "core/limits.h"
#include "formats/detect.h"
#include "formats/image_file.h"
#include "formats/jpeg/jpeg_codec.h"
#include "formats/jpeg/jpeg_pvt.h"
#include "formats/png/png_pvt.h"

namespace inkbrite {

namespace {

// The decoding steps; library errors leave as CJPEGException.
bool DecodeReduced(jpeg_decompress_struct& cinfo, uint64_t inputBytes, int32_t atLeast,
                   DibImage& image) {
  jpeg_read_header(&cinfo, TRUE);
  const uint64_t pixels = uint64_t{cinfo.image_width} * cinfo.image_height;
  const uint64_t coefficients =
      cinfo.progressive_mode || jpeg_has_multiple_scans(&cinfo)
          ? 2 * pixels * static_cast<uint64_t>(std::max(cinfo.num_components, 1))
          : 0;
  if (!DecodeWithinLimits(cinfo.image_width, cinfo.image_height, inputBytes, coefficients)) {
    return false;
  }
  cinfo.mem->max_memory_to_use = static_cast<long>(kMaxDecoderBytes);
  const uint64_t longer = std::max(cinfo.image_width, cinfo.image_height);
  cinfo.scale_denom = 8;
  cinfo.scale_num = 8;
  for (unsigned num : {1u, 2u, 4u}) {
    if ((longer * num + 7) / 8 >= static_cast<uint64_t>(std::max(atLeast, 1))) {
      cinfo.scale_num = num;
      break;
    }
  }
  cinfo.do_fancy_upsampling = FALSE;
  cinfo.dct_method = JDCT_ISLOW;
  if (cinfo.out_color_space == JCS_RGB || cinfo.out_color_space == JCS_YCbCr) {
    cinfo.out_color_space = JCS_EXT_BGR;
  } else if (cinfo.out_color_space == JCS_CMYK || cinfo.out_color_space == JCS_YCCK) {
    cinfo.out_color_space = JCS_CMYK;
  }
  jpeg_start_decompress(&cinfo);
  const int components = cinfo.output_components;
  if (!image.Create(static_cast<int32_t>(cinfo.output_width),
                    static_cast<int32_t>(cinfo.output_height), 24)) {
    return false;
  }
  std::vector<JSAMPLE> buffer(static_cast<size_t>(cinfo.output_width) *
                              static_cast<size_t>(components));
  while (cinfo.output_scanline < cinfo.output_height) {
    uint8_t* out = image.Row(static_cast<int32_t>(cinfo.output_scanline));
    JSAMPROW row = buffer.data();
    if (jpeg_read_scanlines(&cinfo, &row, 1) != 1) return false;
    const JSAMPLE* in = buffer.data();
    for (JDIMENSION x = 0; x < cinfo.output_width; ++x, in += components, out += 3) {
      if (components == 1) {
        out[0] = out[1] = out[2] = in[0];
      } else if (components == 3) {
        out[0] = in[0];
        out[1] = in[1];
        out[2] = in[2];
      } else {
        // Adobe's inverted CMYK, as most CMYK JPEG files are written.
        const unsigned k = in[3];
        out[0] = static_cast<uint8_t>(in[2] * k / 255);
        out[1] = static_cast<uint8_t>(in[1] * k / 255);
        out[2] = static_cast<uint8_t>(in[0] * k / 255);
      }
    }
  }
  jpeg_finish_decompress(&cinfo);
  return true;
}

void AppendToString(png_structp png, png_bytep data, size_t size) {
  auto* out = static_cast<std::string*>(png_get_io_ptr(png));
  out->append(reinterpret_cast<const char*>(data), size);
}
void NoFlush(png_structp) {}

}  // namespace

bool ReadJpegReduced(const uint8_t* data, size_t size, int32_t atLeast, DibImage& image) {
  if (data == nullptr || size < 10) return false;
  jpeg_detail::MemoryInput input(data, size);
  jpeg_decompress_struct cinfo{};
  jpeg_error_mgr err{};
  jpeg_progress_mgr progress{};
  progress.progress_monitor = jpeg_detail::LimitScans;
  cinfo.err = jpeg_detail::InitErrorManager(err);
  bool ok = false;
  try {
    jpeg_create_decompress(&cinfo);
    cinfo.progress = &progress;
    jpeg_detail::AttachSource(&cinfo, input);
    ok = DecodeReduced(cinfo, size, atLeast, image);
  } catch (const std::exception&) {
    ok = false;
  }
  jpeg_destroy_decompress(&cinfo);
  if (!ok) image.Clear();
  return ok;
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
