// SPDX-License-Identifier: GPL-2.0-or-later
// JPEG encoding of a 24-bit image, colour or one-component grey.
#include <vector>

#include "core/colour.h"
#include "formats/jpeg/jpeg_codec.h"
#include "formats/jpeg/jpeg_pvt.h"
#include "platform/file_io.h"

namespace inkbrite {

int WriteJpegFile(const std::filesystem::path& path, const DibImage& image, int quality, int grey) {
  if (!image.Is24Bit()) return 0;
  // A grey file is one component of the levels Greyscale gives, made a row
  // at a time.
  std::vector<uint8_t> greyRow(grey != 0 ? static_cast<size_t>(image.Width()) : 0);
  SafeFileWriter writer(path);
  if (!writer.Open()) return 0;

  jpeg_compress_struct cinfo{};
  jpeg_error_mgr err{};
  cinfo.err = jpeg_detail::InitErrorManager(err);
  try {
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, writer.Stream());
    cinfo.image_width = static_cast<JDIMENSION>(image.Width());
    cinfo.image_height = static_cast<JDIMENSION>(image.Height());
    // Colour rows go to the library as they are stored: blue-green-red.
    cinfo.input_components = grey != 0 ? 1 : 3;
    cinfo.in_color_space = grey != 0 ? JCS_GRAYSCALE : JCS_EXT_BGR;
    // Defaults: JFIF 1.01 header with density 1 x 1 and no unit, YCbCr,
    // 4:2:0 chroma, no restart interval, sequential.
    jpeg_set_defaults(&cinfo);
    cinfo.optimize_coding = TRUE;
    cinfo.dct_method = JDCT_FLOAT;
    // Quality 0 acts as 1, above 100 as 100. Baseline is not forced: below
    // quality 25 some quantisers exceed 255 and the file is extended
    // sequential.
    jpeg_set_quality(&cinfo, quality, FALSE);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
      const uint8_t* pixels = image.Row(static_cast<int32_t>(cinfo.next_scanline));
      if (grey != 0) {
        GreyLevelsRow(pixels, greyRow.data(), image.Width());
        pixels = greyRow.data();
      }
      // The library only reads the row.
      JSAMPROW row = const_cast<JSAMPROW>(pixels);
      jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
  } catch (...) {
    // The caller gets the library's error; the half-written file goes and
    // any previous file stays as it was.
    jpeg_destroy_compress(&cinfo);
    writer.Discard();
    throw;
  }
  jpeg_destroy_compress(&cinfo);
  return writer.Commit() ? 1 : 0;
}

int WriteJpegPage(const std::filesystem::path& path, const DibImage& image, int colourMode,
                  int quality) {
  try {
    return WriteJpegFile(path, image, quality, colourMode);
  } catch (const CJPEGException&) {
    return 0;
  }
}

}  // namespace inkbrite
