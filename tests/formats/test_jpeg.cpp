// SPDX-License-Identifier: GPL-2.0-or-later
// JPEG and UFO files: the corpus, writing and reading back, damaged data.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include <jpeglib.h>

#include "formats/jpeg/jpeg_codec.h"
#include "tests/test_support.h"

namespace inkbrite {
namespace {

namespace fs = std::filesystem;

// Soft gradients in all three channels: what JPEG keeps well.
DibImage Gradients(int32_t width, int32_t height) {
  return test::MakeImage(width, height, [](int32_t x, int32_t y) {
    return test::Bgr{uint8_t(40 + 3 * x), uint8_t(200 - 2 * y), uint8_t(60 + x + y)};
  });
}

int LargestDifference(const DibImage& a, const DibImage& b) {
  int largest = 0;
  for (int32_t y = 0; y < a.Height(); ++y) {
    for (int32_t x = 0; x < a.Width() * 3; ++x) {
      largest = std::max(largest, std::abs(a.Row(y)[x] - b.Row(y)[x]));
    }
  }
  return largest;
}

// The component count of the frame header, -1 when there is none.
int ComponentCount(const std::vector<uint8_t>& file) {
  size_t pos = 2;
  while (pos + 10 <= file.size() && file[pos] == 0xFF) {
    const uint8_t marker = file[pos + 1];
    if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) {
      return file[pos + 9];
    }
    pos += 2 + (file[pos + 2] << 8 | file[pos + 3]);
  }
  return -1;
}

// A JPEG made by the library itself, for layouts our writer never makes.
std::vector<uint8_t> LibraryJpeg(int width, int height, int components, J_COLOR_SPACE space,
                                 const std::vector<uint8_t>& pixel, bool progressive) {
  jpeg_compress_struct cinfo{};
  jpeg_error_mgr err{};
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_compress(&cinfo);
  unsigned char* out = nullptr;
  unsigned long outSize = 0;
  jpeg_mem_dest(&cinfo, &out, &outSize);
  cinfo.image_width = static_cast<JDIMENSION>(width);
  cinfo.image_height = static_cast<JDIMENSION>(height);
  cinfo.input_components = components;
  cinfo.in_color_space = space;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, 100, TRUE);
  if (progressive) jpeg_simple_progression(&cinfo);
  jpeg_start_compress(&cinfo, TRUE);
  std::vector<uint8_t> row;
  for (int x = 0; x < width; ++x) row.insert(row.end(), pixel.begin(), pixel.end());
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW p = row.data();
    jpeg_write_scanlines(&cinfo, &p, 1);
  }
  jpeg_finish_compress(&cinfo);
  std::vector<uint8_t> file(out, out + outSize);
  jpeg_destroy_compress(&cinfo);
  std::free(out);
  return file;
}

// The memory reader decodes every corpus JPEG as the file reader does (what
// the files give is checked through LoadImageFile with the whole corpus).
TEST(JpegReader, MemoryAndFileReadersAgreeOnTheCorpus) {
  INKBRITE_NEED_CORPUS();
  const auto rows = test::ReadManifest("jpeg/");
  for (const auto& row : rows) {
    const fs::path path = test::CorpusDir() / row.path;
    const std::vector<uint8_t> bytes = test::ReadAll(path);
    DibImage fromFile, fromMemory;
    int fileGrey = -1, memoryGrey = -1;
    const int result = ReadJpegFile(path, fromFile, &fileGrey);
    EXPECT_EQ(ReadJpegMemory(bytes.data(), bytes.size(), fromMemory, &memoryGrey), result)
        << row.path;
    EXPECT_EQ(fromMemory.PackedDib(), fromFile.PackedDib()) << row.path;
    if (result == 1) {
      EXPECT_EQ(memoryGrey, fileGrey) << row.path;
    }
  }
}

TEST(JpegReader, RefusesWhatIsNotThere) {
  DibImage image;
  int grey = -1;
  const uint8_t bytes[16] = {0xFF, 0xD8, 0xFF, 0xE0};
  EXPECT_EQ(ReadJpegMemory(nullptr, 100, image, &grey), 0);
  EXPECT_EQ(ReadJpegMemory(bytes, 9, image, &grey), 0);
  EXPECT_EQ(ReadJpegMemory(bytes, 16, image, &grey), 0);  // no frame
  EXPECT_EQ(ReadJpegFile("/nonexistent/page.jpg", image, &grey), 0);
  EXPECT_EQ(ReadUfoFile("/nonexistent/page.ufo", image, &grey), 0);
  test::TempDir dir;
  test::WriteAll(dir / "eleven.ufo", std::vector<uint8_t>(11, 0));
  EXPECT_EQ(ReadUfoFile(dir / "eleven.ufo", image, &grey), 0);
  EXPECT_EQ(ReadJpegFile(dir.path(), image, &grey), 0);  // a folder reads as nothing
  EXPECT_TRUE(image.IsEmpty());
}

// Reduced decoding: the size rounded up at each scale, the picture close to
// the full one reduced, the header's size, and the refusals.
TEST(JpegReader, DecodesAtAReducedScale) {
  test::TempDir dir;
  // Gentle slopes, so the reduced picture is close to the reduced page.
  const DibImage page = test::MakeImage(203, 97, [](int32_t x, int32_t y) {
    return test::Bgr{uint8_t(20 + x / 2), uint8_t(50 + y), uint8_t((x + y) / 3)};
  });
  ASSERT_EQ(WriteJpegFile(dir / "page.jpg", page, 95, 0), 1);
  JpegSize size;
  ASSERT_TRUE(ReadJpegSize(dir / "page.jpg", size));
  EXPECT_EQ(size.width, 203);
  EXPECT_EQ(size.height, 97);
  for (const int denominator : {2, 4, 8}) {
    DibImage reduced;
    JpegSize full;
    int grey = -1;
    ASSERT_EQ(ReadJpegFileReduced(dir / "page.jpg", denominator, reduced, &grey, &full), 1);
    EXPECT_EQ(reduced.Width(), (203 + denominator - 1) / denominator);
    EXPECT_EQ(reduced.Height(), (97 + denominator - 1) / denominator);
    EXPECT_EQ(full.width, 203);
    EXPECT_EQ(full.height, 97);
    EXPECT_EQ(grey, 0);
    DibImage expected = page;
    ASSERT_TRUE(expected.ResizeTo(reduced.Width(), reduced.Height()));
    EXPECT_LE(LargestDifference(reduced, expected), 24) << denominator;
    // The same bytes in memory (a book's page) decode the same.
    const std::vector<uint8_t> bytes = test::ReadAll(dir / "page.jpg");
    DibImage fromMemory;
    ASSERT_EQ(ReadJpegMemoryReduced(bytes.data(), bytes.size(), denominator, fromMemory, &grey), 1);
    EXPECT_TRUE(fromMemory.PackedDib() == reduced.PackedDib());
  }
  DibImage image;
  EXPECT_EQ(ReadJpegMemoryReduced(nullptr, 0, 2, image, nullptr), 0);
  EXPECT_EQ(ReadJpegFileReduced(dir / "page.jpg", 3, image, nullptr, nullptr), 0);
  EXPECT_EQ(ReadJpegFileReduced("/nonexistent/page.jpg", 2, image, nullptr, nullptr), 0);
  test::WriteAll(dir / "not.jpg", std::vector<uint8_t>(64, 7));
  EXPECT_EQ(ReadJpegFileReduced(dir / "not.jpg", 2, image, nullptr, nullptr), 0);
  EXPECT_FALSE(ReadJpegSize(dir / "not.jpg", size));
  EXPECT_TRUE(image.IsEmpty());
}

TEST(JpegReader, TruncatedOrCorruptDataNeverCrashes) {
  INKBRITE_NEED_CORPUS();
  const std::vector<uint8_t> file =
      test::ReadAll(test::CorpusDir() / "jpeg/libjpeg-turbo/testorig.jpg");
  // End of the scan header: any cut after it still decodes the whole frame,
  // the missing rest filled in by the decoder.
  size_t scanStart = 0;
  for (size_t i = 2; i + 4 < file.size() && scanStart == 0; ++i) {
    if (file[i] == 0xFF && file[i + 1] == 0xDA) {
      scanStart = i + 2 + (file[i + 2] << 8 | file[i + 3]);
    }
  }
  ASSERT_GT(scanStart, 0u);
  for (size_t size = 0; size <= file.size(); size += 7) {
    DibImage image;
    int grey = -1;
    const int result = ReadJpegMemory(file.data(), size, image, &grey);
    if (size > scanStart) {
      ASSERT_EQ(result, 1) << size;
      EXPECT_EQ(image.Width(), 227);
      EXPECT_EQ(image.Height(), 149);
    } else if (result == 0) {
      EXPECT_TRUE(image.IsEmpty()) << size;
    }
  }
  // A frame of 65500 x 65500 (12 GB of pixels) is refused before anything is
  // allocated for it.
  std::vector<uint8_t> huge = file;
  for (size_t i = 2; i + 9 < huge.size(); ++i) {
    if (huge[i] == 0xFF && huge[i + 1] == 0xC0) {
      huge[i + 5] = huge[i + 7] = 0xFF;
      huge[i + 6] = huge[i + 8] = 0xDC;
      break;
    }
  }
  DibImage refused;
  EXPECT_EQ(ReadJpegMemory(huge.data(), huge.size(), refused, nullptr), 0);
  EXPECT_TRUE(refused.IsEmpty());
  // Damage anywhere: 1 or 0, nothing else (the sanitizers watch the rest).
  for (size_t pos = 2; pos < file.size(); pos += 13) {
    std::vector<uint8_t> damaged = file;
    damaged[pos] ^= static_cast<uint8_t>(0x5A + pos);
    DibImage image;
    const int result = ReadJpegMemory(damaged.data(), damaged.size(), image, nullptr);
    EXPECT_TRUE(result == 0 || result == 1);
  }
}

TEST(JpegReader, CmykSamplesAreReadAsStoredInverted) {
  // c, m, y scaled by k: blue = y k / 255, green = m k / 255, red = c k / 255.
  struct Case {
    std::vector<uint8_t> cmyk;
    test::Bgr expected;
  };
  const Case cases[] = {{{255, 255, 255, 255}, {255, 255, 255}},
                        {{255, 255, 255, 0}, {0, 0, 0}},
                        {{255, 128, 0, 255}, {0, 128, 255}},
                        {{200, 100, 50, 128}, {25, 50, 100}}};
  for (const Case& c : cases) {
    const std::vector<uint8_t> file = LibraryJpeg(16, 8, 4, JCS_CMYK, c.cmyk, false);
    DibImage image;
    int grey = -1;
    ASSERT_EQ(ReadJpegMemory(file.data(), file.size(), image, &grey), 1);
    EXPECT_EQ(grey, 0);
    const test::Bgr p = test::PixelAt(image, 5, 3), e = c.expected;
    EXPECT_LE(std::max({std::abs(p.b - e.b), std::abs(p.g - e.g), std::abs(p.r - e.r)}), 2)
        << int{c.cmyk[3]};
  }
}

TEST(JpegReader, EndlessProgressiveScansAreRefused) {
  // Repeating the last refinement scan makes a valid-looking file whose every
  // copy costs a pass over the picture.
  const std::vector<uint8_t> file = LibraryJpeg(64, 64, 3, JCS_RGB, {10, 120, 240}, true);
  size_t lastScan = 0;
  for (size_t i = 2; i + 1 < file.size(); ++i) {
    if (file[i] == 0xFF && file[i + 1] == 0xDA) lastScan = i;
  }
  ASSERT_GT(lastScan, 0u);
  const std::vector<uint8_t> scan(file.begin() + static_cast<std::ptrdiff_t>(lastScan),
                                  file.end() - 2);
  auto withCopies = [&](int copies) {
    std::vector<uint8_t> bytes = file;
    bytes.resize(bytes.size() - 2);
    for (int i = 0; i < copies; ++i) bytes.insert(bytes.end(), scan.begin(), scan.end());
    bytes.push_back(0xFF);
    bytes.push_back(0xD9);
    DibImage image;
    return ReadJpegMemory(bytes.data(), bytes.size(), image, nullptr);
  };
  EXPECT_EQ(withCopies(5), 1);
  EXPECT_EQ(withCopies(600), 0);
}

TEST(JpegWriter, ColourAndGreyReadBack) {
  test::TempDir dir;
  DibImage image;
  int grey = -1;
  // Quality 95, 4:2:0 chroma: soft gradients come back within 6 levels (3
  // measured); the smallest picture keeps its size.
  for (const auto& [w, h] : {std::pair{61, 37}, std::pair{1, 1}}) {
    const DibImage source = Gradients(w, h);
    ASSERT_EQ(WriteJpegFile(dir / "colour.jpg", source, 95, 0), 1);
    ASSERT_EQ(ReadJpegFile(dir / "colour.jpg", image, &grey), 1);
    EXPECT_EQ(grey, 0);
    ASSERT_EQ(image.Width(), w);
    ASSERT_EQ(image.Height(), h);
    EXPECT_LE(LargestDifference(image, source), 6) << w;
  }

  // Grey: one component of the levels Greyscale gives, read back as equal
  // channels.
  const DibImage source = Gradients(61, 37);
  ASSERT_EQ(WriteJpegFile(dir / "grey.jpg", source, 95, 1), 1);
  EXPECT_EQ(ComponentCount(test::ReadAll(dir / "grey.jpg")), 1);
  ASSERT_EQ(ReadJpegFile(dir / "grey.jpg", image, &grey), 1);
  EXPECT_EQ(grey, 1);
  for (int32_t y = 0; y < 37; y += 6) {
    for (int32_t x = 0; x < 61; x += 5) {
      const test::Bgr s = test::PixelAt(source, x, y);
      const test::Bgr p = test::PixelAt(image, x, y);
      EXPECT_TRUE(p.b == p.g && p.g == p.r);
      EXPECT_NEAR(p.g, (54 * s.b + 183 * s.g + 19 * s.r) >> 8, 2) << x << "," << y;
    }
  }

  // Quality 0 is quality 1 to the library.
  ASSERT_EQ(WriteJpegFile(dir / "q0.jpg", source, 0, 0), 1);
  ASSERT_EQ(WriteJpegFile(dir / "q1.jpg", source, 1, 0), 1);
  EXPECT_EQ(test::ReadAll(dir / "q0.jpg"), test::ReadAll(dir / "q1.jpg"));
}

TEST(JpegWriter, FailuresLeaveThePreviousFileAndNoTemporary) {
  test::TempDir dir;
  EXPECT_EQ(WriteJpegFile(dir / "missing" / "page.jpg", Gradients(8, 8), 70, 0), 0);
  EXPECT_EQ(WriteJpegFile(dir / "empty.jpg", DibImage(), 70, 0), 0);

  // JPEG frames stop at 65500 pixels a side: the library's error reaches the
  // caller and the page already on disk stays whole.
  const fs::path target = dir / "page.jpg";
  test::WriteAll(target, {1, 2, 3});
  DibImage wide;
  ASSERT_TRUE(wide.Create(65535, 1, 24));
  try {
    WriteJpegFile(target, wide, 70, 0);
    ADD_FAILURE() << "no exception";
  } catch (const CJPEGException& e) {
    EXPECT_GT(e.Code(), 0);
    EXPECT_NE(std::string(e.what()).find("65500"), std::string::npos) << e.what();
    char cut[6];
    EXPECT_TRUE(e.GetErrorMessage(cut, sizeof cut) && std::string(cut) == "Maxim");
  }
  EXPECT_EQ(test::ReadAll(target), (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_EQ(test::Listing(dir.path()), std::vector<std::string>{"page.jpg"});
}

}  // namespace
}  // namespace inkbrite
