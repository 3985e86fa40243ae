// SPDX-License-Identifier: GPL-2.0-or-later
// jpeg_floor: the cost of a bare JPEG decode and re-encode, the floor under
// any converter that reads and writes JPEG pages.
//
//   jpeg_floor [--quality Q] [--half | --png4] OUT_DIR FILE...
//
// One file after another on one thread, with the settings of Inkbrite's own
// JPEG codec (formats/jpeg/): decoding with the floating-point DCT into
// 24-bit blue-green-red rows, or a one-component file into its grey levels,
// one byte a pixel (what the library gives; the converter keeps a grey page
// so); encoding from those rows with the floating-point DCT, optimised
// Huffman tables and the library's quality scaling, one luminance component
// for a grey source (what the converter's "keep as is" mode writes). Each output goes through
// SafeFileWriter, like every file the converter writes, so the sync and rename are in the floor
// too. No enhancement of any kind: this is what a converter cannot go below.
//
// Each workload of the peer benchmark has its own floor, the codec work its
// output cannot do without:
//   (default)  decode the page, encode the page (tone only);
//   --half     decode the page, encode a page of half its width and height
//              (every second pixel of every second row: the reduction
//              itself is the converter's work, not the codec's);
//   --png4     decode the page, write it as a 4-bit palette PNG of 16 grey
//              levels (level = green / 16, or grey / 16: no greying or
//              quantising, those are the converter's), with the PNG writer's
//              settings (zlib's default level, no row filter for palette
//              rows), named .png.
//
//   jpeg_floor --check [FILE...]
// checks that the floor's decoder gives exactly the pixels of Inkbrite's
// JPEG reader, for the files given or for a colour and a grey page of its
// own (bench/floor_check.h); bench/peers/run.sh runs it before timing.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include <jpeglib.h>
#include <png.h>
#include <unistd.h>

#include "bench/floor_check.h"
#include "formats/jpeg/jpeg_codec.h"
#include "platform/file_io.h"

namespace {

struct Page {
  std::vector<JSAMPLE> pixels;  // 3 bytes a pixel (1 when grey), top row first
  JDIMENSION width = 0, height = 0;
  bool grey = false;
  size_t Components() const { return grey ? 1 : 3; }
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
  const size_t stride = static_cast<size_t>(page.width) * page.Components();
  page.pixels.resize(stride * page.height);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = page.pixels.data() + stride * cinfo.output_scanline;
    jpeg_read_scanlines(&cinfo, &row, 1);
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
  cinfo.input_components = static_cast<int>(page.Components());
  cinfo.in_color_space = page.grey ? JCS_GRAYSCALE : JCS_EXT_BGR;
  jpeg_set_defaults(&cinfo);
  cinfo.optimize_coding = TRUE;
  cinfo.dct_method = JDCT_FLOAT;
  jpeg_set_quality(&cinfo, quality, FALSE);
  jpeg_start_compress(&cinfo, TRUE);
  const size_t stride = static_cast<size_t>(page.width) * page.Components();
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(page.pixels.data() + stride * cinfo.next_scanline);
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  return writer.Commit();
}

// The page of half the width and height: every second pixel of every
// second row, the first one kept (an odd last row or column dropped).
Page Half(const Page& page) {
  Page half;
  half.width = page.width / 2;
  half.height = page.height / 2;
  half.grey = page.grey;
  const size_t c = page.Components();
  const size_t stride = static_cast<size_t>(page.width) * c;
  half.pixels.resize(static_cast<size_t>(half.width) * c * half.height);
  JSAMPLE* out = half.pixels.data();
  for (JDIMENSION y = 0; y < half.height; ++y) {
    const JSAMPLE* row = page.pixels.data() + stride * (2 * y);
    for (JDIMENSION x = 0; x < half.width; ++x, out += c) {
      for (size_t k = 0; k < c; ++k) out[k] = row[2 * c * x + k];
    }
  }
  return half;
}

// The page as a 4-bit palette PNG of 16 greys, pixel level green / 16.
bool EncodePng4(const std::filesystem::path& path, const Page& page) {
  inkbrite::SafeFileWriter writer(path);
  if (!writer.Open()) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  std::vector<png_byte> packed((page.width + 1) / 2);
  if (setjmp(png_jmpbuf(png))) {  // errors: a full disk
    png_destroy_write_struct(&png, &info);
    writer.Discard();
    return false;
  }
  png_init_io(png, writer.Stream());
  png_set_compression_level(png, -1);
  png_set_IHDR(png, info, page.width, page.height, 4, PNG_COLOR_TYPE_PALETTE, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_color palette[16];
  for (int i = 0; i < 16; ++i) {
    palette[i].red = palette[i].green = palette[i].blue = static_cast<png_byte>(i * 17);
  }
  png_set_PLTE(png, info, palette, 16);
  png_write_info(png, info);
  const size_t c = page.Components();
  const size_t green = page.grey ? 0 : 1;
  const size_t stride = static_cast<size_t>(page.width) * c;
  for (JDIMENSION y = 0; y < page.height; ++y) {
    const JSAMPLE* row = page.pixels.data() + stride * y;
    for (JDIMENSION x = 0; x < page.width; x += 2) {
      const int high = row[c * x + green] >> 4;
      const int low = x + 1 < page.width ? row[c * (x + 1) + green] >> 4 : 0;
      packed[x / 2] = static_cast<png_byte>(high << 4 | low);
    }
    png_write_row(png, packed.data());
  }
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return writer.Commit();
}

// A colour page with gradients and strokes, and its grey copy, written by
// Inkbrite's JPEG writer into `dir`.
std::vector<std::filesystem::path> OwnPages(const std::filesystem::path& dir) {
  inkbrite::DibImage page;
  page.Create(301, 203, 24);
  for (int y = 0; y < page.Height(); ++y) {
    uint8_t* row = page.Row(y);
    for (int x = 0; x < page.Width(); ++x) {
      const bool ink = (x / 5 + y / 7) % 17 == 0;
      row[3 * x] = static_cast<uint8_t>(ink ? 20 : x);
      row[3 * x + 1] = static_cast<uint8_t>(ink ? 20 : y);
      row[3 * x + 2] = static_cast<uint8_t>(ink ? 20 : 150 + (x + y) % 90);
    }
  }
  inkbrite::DibImage grey = page;
  grey.Greyscale();
  std::filesystem::create_directories(dir);
  const std::vector<std::filesystem::path> files = {dir / "colour.jpg", dir / "grey.jpg"};
  if (inkbrite::WriteJpegFile(files[0], page, 70, 0) != 1 ||
      inkbrite::WriteJpegFile(files[1], grey, 70, 1) != 1)
    std::exit(2);
  return files;
}

// Every file decoded by the floor and by the reader: the same pixels, or the
// program ends with status 1.
int Check(std::vector<std::filesystem::path> files) {
  const std::filesystem::path own =
      std::filesystem::temp_directory_path() / ("jpeg_floor_check_" + std::to_string(::getpid()));
  if (files.empty()) files = OwnPages(own);
  for (const std::filesystem::path& file : files) {
    Page page;
    inkbrite::DibImage ours;
    if (!Decode(file, page) || inkbrite::ReadJpegFile(file, ours, nullptr) != 1) {
      std::fprintf(stderr, "jpeg_floor: cannot decode %s\n", file.c_str());
      return 1;
    }
    inkbrite::bench::FloorPixels floor;
    floor.width = static_cast<int>(page.width);
    floor.height = static_cast<int>(page.height);
    if (page.grey) {  // the reader's 24-bit page repeats each level
      for (const JSAMPLE level : page.pixels) floor.bytes.insert(floor.bytes.end(), 3, level);
    } else {
      floor.bytes = std::move(page.pixels);
    }
    inkbrite::bench::RequireSamePixels(file.c_str(), ours, floor);
  }
  std::error_code ec;
  std::filesystem::remove_all(own, ec);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::string_view(argv[1]) == "--check") {
    return Check(std::vector<std::filesystem::path>(argv + 2, argv + argc));
  }
  int quality = 70;
  int first = 1;
  if (argc > 2 && std::string_view(argv[1]) == "--quality") {
    quality = std::atoi(argv[2]);
    first = 3;
  }
  enum class Output { kPage, kHalf, kPng4 } output = Output::kPage;
  if (argc > first && std::string_view(argv[first]) == "--half") {
    output = Output::kHalf;
    ++first;
  } else if (argc > first && std::string_view(argv[first]) == "--png4") {
    output = Output::kPng4;
    ++first;
  }
  if (argc - first < 2) {
    std::fprintf(stderr, "usage: jpeg_floor [--quality Q] [--half | --png4] OUT_DIR FILE...\n");
    return 2;
  }
  const std::filesystem::path out = argv[first];
  int failed = 0;
  for (int i = first + 1; i < argc; ++i) {
    const std::filesystem::path source = argv[i];
    Page page;
    std::filesystem::path target = out / source.filename();
    bool done = Decode(source, page);
    if (done && output == Output::kPage) done = Encode(target, page, quality);
    if (done && output == Output::kHalf) done = Encode(target, Half(page), quality);
    if (done && output == Output::kPng4) done = EncodePng4(target.replace_extension(".png"), page);
    if (!done) {
      std::fprintf(stderr, "jpeg_floor: failed on %s\n", source.c_str());
      ++failed;
    }
  }
  return failed == 0 ? 0 : 1;
}
