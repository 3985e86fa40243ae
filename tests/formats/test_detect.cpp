// SPDX-License-Identifier: GPL-2.0-or-later
// Format detection: signatures first, then the name.
#include <gtest/gtest.h>

#include "formats/detect.h"
#include "tests/test_support.h"

namespace inkbrite {
namespace {

TEST(DetectImageFormat, EveryCorpusFileGetsItsFormat) {
  INKBRITE_NEED_CORPUS();
  const auto rows = test::ReadManifest("");
  for (const auto& row : rows) {
    EXPECT_EQ(DetectImageFormat(test::CorpusDir() / row.path, true), row.formatCode) << row.path;
  }
}

TEST(DetectImageFormat, ContentWinsOverTheName) {
  test::TempDir dir;
  const std::pair<std::vector<uint8_t>, ImageFormat> cases[] = {
      {{0xFF, 0xD8, 0xFF, 0xE0}, kFormatJpeg},
      {{'G', 'I', 'F', '8', '9', 'a'}, kFormatGif},
      {{'B', 'M'}, kFormatBmp},
      {{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}, kFormatPng},
      {{'I', 'I', 0x2A, 0}, kFormatTiff},
      {{'M', 'M', 0, 0x2A}, kFormatTiff},
      {{'I', 'I', 0, 0}, kFormatTiff},  // the version word is not examined
      {{0xD7, 0xCD, 0xC6, 0x9A}, kFormatMetafile},
      {{0, 0, 0, 0x0C, 0x6A, 0x50, 0x20, 0x20, 0x0D, 0x0A, 0x87, 0x0A}, kFormatJp2},
      {{0xFF, 0x4F, 0xFF, 0x51}, kFormatJ2kStream},
  };
  for (const auto& [head, format] : cases) {
    auto bytes = head;
    bytes.resize(16, 0x11);
    test::WriteAll(dir / "file.gif", bytes);
    EXPECT_EQ(DetectImageFormat(dir / "file.gif", true), format) << int{head[0]};
    EXPECT_EQ(DetectImageFormat(dir / "file.gif", false), kFormatGif);
  }
  // Shorter than 16 bytes: the name decides, even with a signature.
  test::WriteAll(dir / "short.png", {0xFF, 0xD8, 0xFF});
  EXPECT_EQ(DetectImageFormat(dir / "short.png", true), kFormatPng);
  // No signature: the name decides.
  test::WriteAll(dir / "page.ufo", std::vector<uint8_t>(32, 0));
  EXPECT_EQ(DetectImageFormat(dir / "page.ufo", true), kFormatUfo);
  // Missing file: the name decides.
  EXPECT_EQ(DetectImageFormat(dir / "none.TIFF", true), kFormatTiff);
}

TEST(DetectImageFormat, NamesAreComparedWithoutCaseFromTheLastDot) {
  const std::pair<const char*, ImageFormat> cases[] = {
      {"a.jpg", kFormatJpeg},        {"a.JPEG", kFormatJpeg},     {"a.Gif", kFormatGif},
      {"a.ufo", kFormatUfo},         {"a.BMP", kFormatBmp},       {"a.dib", kFormatBmp},
      {"a.png", kFormatPng},         {"a.tif", kFormatTiff},      {"a.TiFf", kFormatTiff},
      {"a.wmf", kFormatMetafile},    {"a.EMF", kFormatMetafile},  {"a.jp2", kFormatJp2},
      {"a.j2k", kFormatJ2kStream},   {"a.JPC", kFormatJ2kStream}, {"a.jpe", kFormatUnknown},
      {"a.jpg.txt", kFormatUnknown}, {"noext", kFormatUnknown},   {"dir.png/file", kFormatUnknown},
      {"a.", kFormatUnknown},        {"", kFormatUnknown},        {"a.jpgx", kFormatUnknown},
  };
  for (const auto& [name, format] : cases) {
    EXPECT_EQ(DetectImageFormat(std::filesystem::path("/nonexistent") / name, false), format)
        << name;
  }
}

}  // namespace
}  // namespace inkbrite
