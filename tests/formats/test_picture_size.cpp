// SPDX-License-Identifier: GPL-2.0-or-later
// Picture sizes from file headers: every format the writers make, in both
// orientations, a TIFF directory behind its pixels, and headers that are
// cut short or state no size.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "formats/avif/avif_codec.h"
#include "formats/bmp/bmp_codec.h"
#include "formats/image_file.h"
#include "formats/jpeg/jpeg_codec.h"
#include "formats/jpeg2000/jp2_codec.h"
#include "formats/jxl/jxl_codec.h"
#include "formats/picture_size.h"
#include "formats/png/png_codec.h"
#include "formats/tiff/tiff_codec.h"
#include "formats/webp/webp_codec.h"
#include "tests/test_support.h"

namespace inkbrite {
namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> Bytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

using Writer = int (*)(const fs::path&, const DibImage&, int, int);

int WritePng(const fs::path& path, const DibImage& image, int mode, int /*quality*/) {
  return WritePngFile(path, image, mode);
}

TEST(PictureSize, EveryWrittenFormatGivesItsSizeInBothOrientations) {
  test::TempDir dir;
  const std::vector<std::pair<std::string, Writer>> writers = {
      {".jpg", WriteJpegPage},  {".png", WritePng},     {".bmp", WriteBmpFile},
      {".tif", WriteTiffFile},  {".jp2", WriteJp2File}, {".webp", WriteWebpFile},
      {".avif", WriteAvifFile}, {".jxl", WriteJxlFile}};
  // Odd sides (no multiple of 8), wide and tall, colour and grey.
  for (const auto& [width, height] : {std::pair{123, 45}, std::pair{37, 301}}) {
    const DibImage page = test::MakeImage(width, height, [](int32_t x, int32_t y) {
      return test::Bgr{static_cast<uint8_t>(x * 2), static_cast<uint8_t>(y), 90};
    });
    for (const auto& [extension, write] : writers) {
      for (int mode : {0, 1}) {
        SCOPED_TRACE(extension + " " + std::to_string(width) + " mode " + std::to_string(mode));
        const fs::path file = dir / ("page" + extension);
        ASSERT_EQ(write(file, page, mode, 80), 1);
        PictureSize size;
        ASSERT_TRUE(ReadPictureFileSize(file, size));
        EXPECT_EQ(size.width, width);
        EXPECT_EQ(size.height, height);
        const std::vector<uint8_t> bytes = Bytes(file);
        ASSERT_TRUE(ReadPictureSize(bytes.data(), bytes.size(), size));
        EXPECT_EQ(size.width, width);
        EXPECT_EQ(size.height, height);
      }
    }
  }
}

TEST(PictureSize, GifScreenAndLargeJxlAndBmpRows) {
  // GIF: the logical screen.
  std::vector<uint8_t> gif = {'G', 'I', 'F', '8', '9', 'a'};
  test::PutLE(gif, 2, {640, 480});
  gif.resize(13);
  PictureSize size;
  ASSERT_TRUE(ReadPictureSize(gif.data(), gif.size(), size));
  EXPECT_EQ(size.width, 640);
  EXPECT_EQ(size.height, 480);
  // A bottom-up and a top-down BMP give the same height.
  for (int32_t height : {300, -300}) {
    std::vector<uint8_t> bmp = {'B', 'M'};
    test::PutLE(bmp, 4, {0, 0, 54, 40, 8000, static_cast<uint32_t>(height)});
    ASSERT_TRUE(ReadPictureSize(bmp.data(), bmp.size(), size));
    EXPECT_EQ(size.width, 8000);
    EXPECT_EQ(size.height, 300);
  }
  // A JPEG XL page of more than 2^18 pixels a side is never written by us,
  // but the widest size field reads: 1 bit "not small", selector 3 and 30
  // bits of height - 1, ratio 7 (2:1).
  std::vector<uint8_t> jxl = {0xFF, 0x0A};
  uint64_t bits = 0;
  int at = 0;
  auto put = [&](uint64_t value, int count) {
    bits |= value << at;
    at += count;
  };
  put(0, 1);
  put(3, 2);
  put(11999, 30);
  put(7, 3);
  for (int i = 0; i < 6; ++i) jxl.push_back(static_cast<uint8_t>(bits >> (8 * i)));
  // 24000 pixels wide: within the limit per side.
  ASSERT_TRUE(ReadPictureSize(jxl.data(), jxl.size(), size));
  EXPECT_EQ(size.width, 24000);
  EXPECT_EQ(size.height, 12000);
}

TEST(PictureSize, ATiffDirectoryBehindThePixelsIsFoundInTheFile) {
  test::TempDir dir;
  const DibImage noise = test::MakeNoise(700, 500);
  ASSERT_EQ(WriteTiffFile(dir / "noise.tif", noise, 0, 100), 1);
  const std::vector<uint8_t> bytes = Bytes(dir / "noise.tif");
  ASSERT_GT(bytes.size(), size_t{300} << 10);
  PictureSize size;
  // The first bytes alone do not hold it.
  EXPECT_FALSE(ReadPictureSize(bytes.data(), size_t{64} << 10, size));
  ASSERT_TRUE(ReadPictureFileSize(dir / "noise.tif", size));
  EXPECT_EQ(size.width, 700);
  EXPECT_EQ(size.height, 500);
}

TEST(PictureSize, CutShortZeroOversizedAndForeignHeadersGiveNoSize) {
  test::TempDir dir;
  ASSERT_EQ(WritePngFile(dir / "a.png", test::MakeFilled(20, 10, {1, 2, 3}), 0), 1);
  std::vector<uint8_t> png = Bytes(dir / "a.png");
  PictureSize size;
  EXPECT_FALSE(ReadPictureSize(png.data(), 20, size));  // cut inside IHDR
  std::vector<uint8_t> zero = png;
  zero[16] = zero[17] = zero[18] = zero[19] = 0;  // width 0
  EXPECT_FALSE(ReadPictureSize(zero.data(), zero.size(), size));
  std::vector<uint8_t> huge = png;
  huge[17] = 1;  // width 65536 + 20
  EXPECT_FALSE(ReadPictureSize(huge.data(), huge.size(), size));
  const std::string text = "just some text, no picture at all";
  EXPECT_FALSE(ReadPictureSize(reinterpret_cast<const uint8_t*>(text.data()), text.size(), size));
  EXPECT_FALSE(ReadPictureSize(nullptr, 0, size));
  EXPECT_FALSE(ReadPictureFileSize(dir / "missing.png", size));
  // A JPEG cut before its frame header.
  ASSERT_EQ(WriteJpegPage(dir / "a.jpg", test::MakeFilled(20, 10, {1, 2, 3}), 0, 80), 1);
  const std::vector<uint8_t> jpeg = Bytes(dir / "a.jpg");
  EXPECT_FALSE(ReadPictureSize(jpeg.data(), 30, size));
  EXPECT_EQ(size.width, 0);
}

}  // namespace
}  // namespace inkbrite
