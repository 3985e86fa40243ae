// SPDX-License-Identifier: GPL-2.0-or-later
// jpeg_floor: the cost of a bare JPEG decode and re-encode, the floor under
// any converter that reads and writes JPEG pages.
//
//   jpeg_floor [--quality Q] OUT_DIR FILE...
//
// One file after another on one thread, with the settings of Inkbrite's own
// JPEG codec (formats/jpeg/): decoding with the floating-point DCT into
// 24-bit blue-green-red rows (a one-component file decoded grey and widened
// to three bytes a pixel, as the reader does); encoding from those rows with
// the floating-point DCT, optimised Huffman tables and the library's quality
// scaling, one luminance component for a grey source (what the converter's
// "keep as is" mode writes). Each output goes through SafeFileWriter, like
// every file the converter writes, so the sync and rename are in the floor too.
// No enhancement of any kind: this is what a converter cannot go below.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <vector>

#include <jpeglib.h>

#include "platform/file_io.h"

namespace {

struct Page {
  std::vector<JSAMPLE> pixels;  // 3 bytes a pixel, top row first
  JDIMENSION width = 0, height = 0;
  bool grey = false;
};

bool Decode(const std::filesystem::path& path, Page& page) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  jpeg_decompress_struct cinfo{};
  jpeg_error_mgr err{};
  cinfo.err = jpeg_std_error(&err);  // errors end the program: fine for a bench tool
  jpeg_create_decompress(&cinfo);
  jpeg_stdio_src(&cinfo, file);
  jpeg_read_header(&cinfo, TRUE);
  cinfo.dct_method = JDCT_FLOAT;
  if (cinfo.out_color_space == JCS_RGB) cinfo.out_color_space = JCS_EXT_BGR;
  jpeg_start_decompress(&cinfo);
  page.width = cinfo.output_width;
  page.height = cinfo.output_height;
  page.grey = cinfo.out_color_space == JCS_GRAYSCALE;
  // Sizes checked before allocating: at most 2^28 pixels (768 MB).
  if (static_cast<uint64_t>(page.width) * page.height > (uint64_t{1} << 28)) {
    jpeg_destroy_decompress(&cinfo);
    std::fclose(file);
    return false;
  }
  const size_t stride = static_cast<size_t>(page.width) * 3;
  page.pixels.resize(stride * page.height);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = page.pixels.data() + stride * cinfo.output_scanline;
    jpeg_read_scanlines(&cinfo, &row, 1);
    if (page.grey) {
      for (JDIMENSION x = page.width; x-- > 0;)
        row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = row[x];
    }
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  std::fclose(file);
  return true;
}

bool Encode(const std::filesystem::path& path, const Page& page, int quality) {
  inkbrite::SafeFileWriter writer(path);
  if (!writer.Open()) return false;
  jpeg_compress_struct cinfo{};
  jpeg_error_mgr err{};
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_compress(&cinfo);
  jpeg_stdio_dest(&cinfo, writer.Stream());
  cinfo.image_width = page.width;
  cinfo.image_height = page.height;
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_EXT_BGR;
  jpeg_set_defaults(&cinfo);
  cinfo.optimize_coding = TRUE;
  cinfo.dct_method = JDCT_FLOAT;
  jpeg_set_quality(&cinfo, quality, FALSE);
  if (page.grey) jpeg_set_colorspace(&cinfo, JCS_GRAYSCALE);
  jpeg_start_compress(&cinfo, TRUE);
  const size_t stride = static_cast<size_t>(page.width) * 3;
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(page.pixels.data() + stride * cinfo.next_scanline);
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  return writer.Commit();
}

}  // namespace

int main(int argc, char** argv) {
  int quality = 70;
  int first = 1;
  if (argc > 2 && std::string_view(argv[1]) == "--quality") {
    quality = std::atoi(argv[2]);
    first = 3;
  }
  if (argc - first < 2) {
    std::fprintf(stderr, "usage: jpeg_floor [--quality Q] OUT_DIR FILE...\n");
    return 2;
  }
  const std::filesystem::path out = argv[first];
  int failed = 0;
  for (int i = first + 1; i < argc; ++i) {
    const std::filesystem::path source = argv[i];
    Page page;
    const std::filesystem::path target = out / source.filename();
    if (!Decode(source, page) || !Encode(target, page, quality)) {
      std::fprintf(stderr, "jpeg_floor: failed on %s\n", source.c_str());
      ++failed;
    }
  }
  return failed == 0 ? 0 : 1;
}
