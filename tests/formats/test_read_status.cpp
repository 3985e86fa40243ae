// SPDX-License-Identifier: GPL-2.0-or-later
// The reason a read gives with its failure: one case a reason, each on a
// real file, through the one entry every caller reads with.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <zlib.h>

#include <cerrno>
#include <functional>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "formats/image_file.h"
#include "platform/read_status.h"
#include "tests/test_support.h"

namespace inkbrite {
namespace {

using Bytes = std::vector<uint8_t>;

void PngChunk(Bytes& b, const char* type, const Bytes& data) {
  test::PutBE(b, 4, {static_cast<uint32_t>(data.size())});
  const size_t start = b.size();
  b.insert(b.end(), type, type + 4);
  b.insert(b.end(), data.begin(), data.end());
  test::PutBE(
      b, 4,
      {static_cast<uint32_t>(crc32(0, b.data() + start, static_cast<uInt>(b.size() - start)))});
}

// A PNG claiming width x height, with one tiny IDAT chunk.
Bytes ClaimingPng(uint32_t width, uint32_t height) {
  Bytes b = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  Bytes ihdr;
  test::PutBE(ihdr, 4, {width, height});
  test::PutBE(ihdr, 1, {8, 2, 0, 0, 0});
  PngChunk(b, "IHDR", ihdr);
  PngChunk(b, "IDAT", {0x78, 0x9C, 0x63, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01});
  PngChunk(b, "IEND", {});
  return b;
}

// A TIFF of 4 x 4 grey pixels whose strip is in a compression (34712,
// JPEG 2000) that libtiff has no codec for.
Bytes TiffInUnknownCompression() {
  Bytes b = {'I', 'I', 42, 0};
  test::PutLE(b, 4, {8});
  const uint16_t tags[][2] = {{256, 4}, {257, 4}, {258, 8}, {259, 34712}, {262, 1},
                              {273, 0}, {277, 1}, {278, 4}, {279, 16}};
  test::PutLE(b, 2, {static_cast<uint32_t>(std::size(tags))});
  const uint32_t stripAt = 8 + 2 + 12 * static_cast<uint32_t>(std::size(tags)) + 4;
  for (const auto& [tag, value] : tags) {
    test::PutLE(b, 2, {tag, 3});
    test::PutLE(b, 4, {1});
    test::PutLE(b, 4, {tag == 273 ? stripAt : value});
  }
  test::PutLE(b, 4, {0});
  b.resize(b.size() + 16, 0x55);
  return b;
}

// A lossless JPEG (SOF3), a process the JPEG library does not decode.
const Bytes kLosslessJpeg = {0xFF, 0xD8, 0xFF, 0xC3, 0x00, 0x0B, 0x08, 0x00, 0x01,
                             0x00, 0x01, 0x01, 0x01, 0x11, 0x00, 0xFF, 0xD9};

TEST(ReadStatus, EachFailureSaysWhy) {
  test::TempDir dir;
  Bytes png;
  {
    const auto path = dir / "whole.png";
    ASSERT_EQ(SaveImageFile(path, test::MakeNoise(64, 48), 0, 0), 1);
    png = test::ReadAll(path);
  }
  struct Case {
    const char* name;
    std::function<std::filesystem::path()> make;
    ReadStatus expected;
  };
  const Case cases[] = {
      {"missing", [&] { return dir / "missing.png"; }, {ReadError::kIoError, ENOENT}},
      {"folder",
       [&] {
         std::filesystem::create_directory(dir / "folder.png");
         return dir / "folder.png";
       },
       {ReadError::kIoError, EISDIR}},
      {"fifo",
       [&] {
         EXPECT_EQ(::mkfifo((dir / "pipe.png").c_str(), 0600), 0);
         return dir / "pipe.png";
       },
       {ReadError::kIoError, EINVAL}},
      {"text",
       [&] {
         test::WriteText(dir / "notes.txt", "not a picture\n");
         return dir / "notes.txt";
       },
       {ReadError::kNotThisFormat, 0}},
      {"truncated",
       [&] {
         test::WriteAll(dir / "cut.png", Bytes(png.begin(), png.begin() + png.size() / 2));
         return dir / "cut.png";
       },
       {ReadError::kDamaged, 0}},
      {"too wide",
       [&] {
         test::WriteAll(dir / "wide.png", ClaimingPng(70000, 2));
         return dir / "wide.png";
       },
       {ReadError::kOverSideLimit, 0}},
      {"too many pixels",
       [&] {
         test::WriteAll(dir / "many.png", ClaimingPng(20000, 20000));
         return dir / "many.png";
       },
       {ReadError::kOverPixelLimit, 0}},
      {"tiny file, huge claim",
       [&] {
         test::WriteAll(dir / "claim.png", ClaimingPng(16000, 16000));
         return dir / "claim.png";
       },
       {ReadError::kOverPixelsPerByte, 0}},
      {"compression without a codec",
       [&] {
         test::WriteAll(dir / "j2k.tif", TiffInUnknownCompression());
         return dir / "j2k.tif";
       },
       {ReadError::kUnsupported, 0}},
      {"lossless JPEG",
       [&] {
         test::WriteAll(dir / "lossless.jpg", kLosslessJpeg);
         return dir / "lossless.jpg";
       },
       {ReadError::kUnsupported, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DibImage image;
    ReadStatus status{ReadError::kUnsupported, 99};
    EXPECT_EQ(LoadImageFile(c.make(), image, nullptr, &status), 0);
    EXPECT_EQ(status.error, c.expected.error) << ReadErrorInfo(status.error).code;
    EXPECT_EQ(status.errorNumber, c.expected.errorNumber);
    EXPECT_FALSE(ReadStatusText(status).empty());
  }
  // A good read says nothing; bytes in memory give their reasons too.
  DibImage image;
  ReadStatus status{ReadError::kDamaged, 1};
  EXPECT_EQ(LoadImageFile(dir / "whole.png", image, nullptr, &status), 1);
  EXPECT_FALSE(status.Failed());
  const Bytes garbage(100, 0x17);
  EXPECT_EQ(LoadImageMemory(garbage.data(), garbage.size(), "x.bin", image, nullptr, &status), 0);
  EXPECT_EQ(status.error, ReadError::kNotThisFormat);
  const Bytes claim = ClaimingPng(16000, 16000);
  EXPECT_EQ(LoadImageMemory(claim.data(), claim.size(), "p.png", image, nullptr, &status), 0);
  EXPECT_EQ(status.error, ReadError::kOverPixelsPerByte);
}

TEST(ReadStatus, CodesAreDistinctAndTheSystemErrorIsNamed) {
  std::set<std::string_view> codes;
  for (const ReadErrorRow& row : kReadErrors) {
    EXPECT_EQ(&ReadErrorInfo(row.error), &row);
    EXPECT_TRUE(codes.insert(row.code).second) << row.code;
  }
  SetMessageLanguage(MessageLanguage::kEnglish);
  const std::string text = ReadStatusText({ReadError::kIoError, ENOENT});
  SetMessageLanguage(MessageLanguage::kChinese);
  EXPECT_EQ(text, "system error: No such file or directory (errno 2)");
  EXPECT_EQ(ReadStatusText({}), "");
  // Notes nest: an inner read's reason stays its own, the first note wins.
  ReadNotes outer;
  {
    ReadNotes inner;
    NoteReadFailure(ReadError::kOverTimeLimit);
    NoteReadFailure(ReadError::kDamaged);
    EXPECT_EQ(inner.Status().error, ReadError::kOverTimeLimit);
  }
  EXPECT_FALSE(outer.Status().Failed());
}

}  // namespace
}  // namespace inkbrite
