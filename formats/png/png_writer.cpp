// SPDX-License-Identifier: GPL-2.0-or-later
// Writing 24-bit pictures as 8-bit RGB or grey PNG files.
#include <vector>

#include "core/colour.h"
#include "formats/png/png_codec.h"
#include "formats/png/png_pvt.h"
#include "platform/file_io.h"

namespace inkbrite {

namespace {

using png_detail::PngWriteHandle;
using png_detail::RunGuarded;

// Encodes the picture, top row first. Grey rows are the levels Greyscale
// gives (GreyLevelsRow), made in `greyRow`, which holds at least `width`
// bytes.
void EncodeRows(png_structp png, png_infop info, const DibImage& image, bool grey,
                uint8_t* greyRow) {
  const uint32_t width = static_cast<uint32_t>(image.Width());
  const uint32_t height = static_cast<uint32_t>(image.Height());
  png_set_compression_level(png, -1);  // zlib's default
  png_set_IHDR(png, info, width, height, 8, grey ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_RGB,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (!grey) png_set_bgr(png);
  png_write_info(png, info);
  for (uint32_t y = 0; y < height; ++y) {
    const uint8_t* row = image.Row(static_cast<int32_t>(y));
    if (grey) {
      GreyLevelsRow(row, greyRow, static_cast<int32_t>(width));
      png_write_row(png, greyRow);
    } else {
      png_write_row(png, row);
    }
  }
  png_write_end(png, nullptr);
}

}  // namespace

int WritePngFile(const std::filesystem::path& path, const DibImage& image, int colourMode) {
  if (!image.Is24Bit()) return 0;
  const bool grey = colourMode == 1;
  try {
    std::vector<uint8_t> greyRow(grey ? static_cast<size_t>(image.Width()) : 0);
    SafeFileWriter writer(path);
    if (!writer.Open()) return 0;
    PngWriteHandle handle;
    if (handle.png == nullptr || handle.info == nullptr) return 0;
    png_structp png = handle.png;
    png_infop info = handle.info;
    std::FILE* file = writer.Stream();
    png_set_write_fn(png, file, png_detail::WriteToFile, png_detail::FlushFile);
    uint8_t* greyBuffer = greyRow.data();
    // A library error (a full disk among them) is a failed write: the
    // temporary file is dropped and the target left as it was.
    if (!RunGuarded(png, [&] { EncodeRows(png, info, image, grey, greyBuffer); })) {
      writer.Discard();
      return 0;
    }
    return writer.Commit() ? 1 : 0;
  } catch (...) {  // no memory for the row buffer or the paths
    return 0;
  }
}

}  // namespace inkbrite
