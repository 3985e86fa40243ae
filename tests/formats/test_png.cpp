// SPDX-License-Identifier: GPL-2.0-or-later
// PNG reading, writing and the container's PNG encoder.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "core/ximage.h"
#include "formats/png/png_codec.h"
#include "tests/test_support.h"

namespace inkbrite {
namespace {

namespace fs = std::filesystem;

using test::PngChunk;

void AppendChunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> body(type, type + 4);
  body.insert(body.end(), data.begin(), data.end());
  test::PutBE(out, 4, {static_cast<uint32_t>(data.size())});
  out.insert(out.end(), body.begin(), body.end());
  test::PutBE(out, 4,
              {static_cast<uint32_t>(crc32(0, body.data(), static_cast<uInt>(body.size())))});
}

TEST(ReadPngFile, TruncatedAndLyingFilesGiveZeroQuickly) {
  INKBRITE_NEED_CORPUS();
  // Every proper prefix of these files misses at least the end chunk.
  for (const char* name : {"pngsuite/basi2c16.png", "pngsuite/basn3p02.png",
                           "pngsuite/basn6a08.png", "libpng/palette-8-tRNS.png"}) {
    const std::vector<uint8_t> file = test::ReadAll(test::CorpusDir() / "png" / name);
    ASSERT_FALSE(file.empty()) << name;
    for (size_t size = 0; size < file.size(); ++size) {
      const std::vector<uint8_t> prefix(file.begin(), file.begin() + size);
      DibImage image;
      int grey = -1;
      ASSERT_EQ(DecodePngBytes(prefix.data(), prefix.size(), image, &grey), 0) << name << size;
      EXPECT_EQ(grey, -1);
      EXPECT_TRUE(image.IsEmpty());
    }
  }

  // Tiny files claiming huge pictures, beyond 65535 per side or within it
  // but beyond 2^31 bytes, or a huge text chunk, are refused before libpng
  // allocates for them.
  struct Claim {
    uint32_t side;
    uint32_t textLength;  // 0: no text chunk
  };
  for (const Claim claim : {Claim{100000, 0}, Claim{65535, 0}, Claim{1, 0x7FFFFFFF}}) {
    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}, ihdr;
    test::PutBE(ihdr, 4, {claim.side, claim.side});
    test::PutBE(ihdr, 1, {8, 2, 0, 0, 0});  // 8-bit RGB
    AppendChunk(png, "IHDR", ihdr);
    if (claim.textLength != 0) {
      test::PutBE(png, 4, {claim.textLength});
      png.insert(png.end(), {'t', 'E', 'X', 't', 'a', 0, 'b', 0, 0, 0, 0});
    }
    AppendChunk(png, "IDAT", {0x78, 0x9C, 0x03, 0x00, 0x00, 0x00, 0x00, 0x01});
    AppendChunk(png, "IEND", {});
    test::TempDir dir;
    test::WriteAll(dir / "huge.png", png);
    const auto start = std::chrono::steady_clock::now();
    DibImage image;
    int grey = -1;
    EXPECT_EQ(ReadPngFile(dir / "huge.png", image, &grey), 0) << claim.side;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200))
        << claim.side;
  }
  DibImage image;
  EXPECT_EQ(ReadPngFile("/nonexistent/page.png", image, nullptr), 0);
}

// One colour over the whole picture, RGBA, deflated as tightly as zlib can
// (about 1030 bytes of image data per compressed byte), Adam7 interlaced or
// not: the most image data a small file can honestly hold.
std::vector<uint8_t> EvenRgbaPng(uint32_t width, uint32_t height, bool interlaced) {
  std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}, ihdr;
  test::PutBE(ihdr, 4, {width, height});
  test::PutBE(ihdr, 1, {8, 6, 0, 0, interlaced ? 1u : 0u});
  AppendChunk(png, "IHDR", ihdr);
  z_stream z{};
  EXPECT_EQ(deflateInit(&z, 9), Z_OK);
  std::vector<uint8_t> idat(1 << 20), row;
  auto feed = [&](uint32_t w, uint32_t h) {
    row.assign(1 + size_t{w} * 4, 0);
    for (size_t x = 0; x < w; ++x) {
      const uint8_t rgba[4] = {200, 120, 40, 255};
      std::copy(rgba, rgba + 4, row.begin() + 1 + x * 4);
    }
    for (uint32_t y = 0; y < h; ++y) {
      z.next_in = row.data();
      z.avail_in = static_cast<uInt>(row.size());
      while (z.avail_in != 0) {
        if (z.total_out + 65536 > idat.size()) idat.resize(idat.size() * 2);
        z.next_out = idat.data() + z.total_out;
        z.avail_out = static_cast<uInt>(idat.size() - z.total_out);
        deflate(&z, Z_NO_FLUSH);
      }
    }
  };
  if (interlaced) {
    const uint32_t pass[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                 {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
    for (const auto& p : pass) {
      if (width > p[0] && height > p[1]) {
        feed((width - p[0] + p[2] - 1) / p[2], (height - p[1] + p[3] - 1) / p[3]);
      }
    }
  } else {
    feed(width, height);
  }
  int status = Z_OK;
  while (status == Z_OK) {
    if (z.total_out + 65536 > idat.size()) idat.resize(idat.size() * 2);
    z.next_out = idat.data() + z.total_out;
    z.avail_out = static_cast<uInt>(idat.size() - z.total_out);
    status = deflate(&z, Z_FINISH);
  }
  EXPECT_EQ(status, Z_STREAM_END);
  idat.resize(z.total_out);
  deflateEnd(&z);
  AppendChunk(png, "IDAT", idat);
  AppendChunk(png, "IEND", {});
  return png;
}

// Interlaced pictures carry more image data than plain ones (a filter byte
// for each row of each of the seven passes): the limit on image data per
// compressed byte must let the tightest honest file through either way.
TEST(ReadPngFile, InterlacedPicturesAtTheTightestCompressionLoadAsPlainOnes) {
  for (const auto& [width, height] :
       {std::pair<uint32_t, uint32_t>{16384, 512}, {9, 4096}, {4097, 3}, {1, 1}}) {
    const std::vector<uint8_t> plain = EvenRgbaPng(width, height, false);
    const std::vector<uint8_t> interlaced = EvenRgbaPng(width, height, true);
    DibImage a, b;
    ASSERT_EQ(DecodePngBytes(plain.data(), plain.size(), a, nullptr), 1) << width;
    ASSERT_EQ(DecodePngBytes(interlaced.data(), interlaced.size(), b, nullptr), 1)
        << width << "x" << height << ", " << interlaced.size() << " bytes";
    ASSERT_EQ(b.Width(), int32_t(width));
    ASSERT_EQ(b.Height(), int32_t(height));
    for (int32_t y : {0, int32_t(height) - 1}) {
      EXPECT_EQ(0, std::memcmp(a.Row(y), b.Row(y), size_t{width} * 3)) << y;
      EXPECT_EQ(b.Row(y)[0], 40);
      EXPECT_EQ(b.Row(y)[2], 200);
    }
  }
}

TEST(WritePngFile, ColourAndGreyRoundTripsAreLossless) {
  test::TempDir dir;
  const DibImage colour = test::MakePattern(37, 11);
  ASSERT_EQ(WritePngFile(dir / "colour.png", colour, 0), 1);
  DibImage loaded;
  int grey = -1;
  ASSERT_EQ(ReadPngFile(dir / "colour.png", loaded, &grey), 1);
  EXPECT_EQ(grey, 0);
  EXPECT_EQ(loaded.PackedDib(), colour.PackedDib());
  std::vector<uint8_t> file = test::ReadAll(dir / "colour.png");
  std::vector<std::string> types;
  for (const auto& chunk : test::PngChunks(file)) types.push_back(chunk.first);
  EXPECT_EQ(types, (std::vector<std::string>{"IHDR", "IDAT", "IEND"}));
  // 8-bit RGB, not interlaced.
  EXPECT_EQ(PngChunk(file, "IHDR"),
            (std::vector<uint8_t>{0, 0, 0, 37, 0, 0, 0, 11, 8, 2, 0, 0, 0}));

  // Grey mode writes the levels Greyscale gives: a grey page comes back
  // whole, a colour page as the greyed page.
  DibImage greyPage = colour;
  ASSERT_TRUE(greyPage.Greyscale());
  for (const DibImage* page : std::initializer_list<const DibImage*>{&greyPage, &colour}) {
    ASSERT_EQ(WritePngFile(dir / "grey.png", *page, 1), 1);
    file = test::ReadAll(dir / "grey.png");
    EXPECT_EQ(PngChunk(file, "IHDR")[8], 8);
    EXPECT_EQ(PngChunk(file, "IHDR")[9], 0);
    ASSERT_EQ(ReadPngFile(dir / "grey.png", loaded, &grey), 1);
    EXPECT_EQ(grey, 1);
    for (int y = 0; y < page->Height(); ++y) {
      for (int x = 0; x < page->Width(); ++x) {
        const uint8_t v = test::PixelAt(greyPage, x, y).b;
        ASSERT_EQ(test::PixelAt(loaded, x, y), (test::Bgr{v, v, v})) << x << "," << y;
      }
    }
  }
}

TEST(WritePngFile, FailuresGiveZeroAndKeepThePreviousFile) {
  test::TempDir dir;
  const DibImage page = test::MakeNoise(300, 200);  // far above 4096 bytes as a file
  EXPECT_EQ(WritePngFile(dir / "missing" / "page.png", page, 0), 0);
  EXPECT_EQ(WritePngFile(dir / "empty.png", DibImage(), 0), 0);
  EXPECT_TRUE(fs::is_empty(dir.path()));

  // A disk that refuses the bytes part-way: libpng reports the failed write,
  // and the writer must give 0 (not 1 with a cut file under the name).
  const std::vector<uint8_t> previous = {1, 2, 3};
  test::WriteAll(dir / "page.png", previous);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{4096, 4096};
    setrlimit(RLIMIT_FSIZE, &limit);
    _exit(WritePngFile(dir / "page.png", page, 0) == 0 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "a failed write was reported as written";
  EXPECT_EQ(test::ReadAll(dir / "page.png"), previous);
  EXPECT_EQ(test::Listing(dir.path()), std::vector<std::string>{"page.png"});
}

// A 4-bit, 16-grey container of w x h whose pixel indices run 0 .. 9.
CxImage TenGreys(int32_t width, int32_t height) {
  std::vector<RgbQuad> greys(16);
  for (int i = 0; i < 16; ++i) {
    const auto v = static_cast<uint8_t>(i * 17);
    greys[i] = RgbQuad{v, v, v, 0};
  }
  return test::MakeIndexed(width, height, 4, kCxImagePng, greys,
                           [](int32_t x, int32_t y) { return static_cast<uint8_t>((x + y) % 10); });
}

std::vector<uint8_t> Encode(CxImage& image, const fs::path& path) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  EXPECT_NE(file, nullptr);
  EXPECT_TRUE(EncodePng(image, file)) << image.LastError();
  std::fclose(file);
  return test::ReadAll(path);
}

TEST(EncodePng, PaletteCutBackgroundAndResolution) {
  test::TempDir dir;
  struct Case {
    int32_t width, height;
    size_t paletteEntries;  // cut only below 65536 pixels
  };
  for (const Case c : {Case{100, 100, 10}, Case{256, 256, 16}}) {
    CxImage image = TenGreys(c.width, c.height);
    const std::vector<uint8_t> file = Encode(image, dir / "grey.png");
    const std::vector<uint8_t> ihdr = PngChunk(file, "IHDR");
    ASSERT_EQ(ihdr.size(), 13u);
    EXPECT_EQ(ihdr[8], 4);
    EXPECT_EQ(ihdr[9], 3);
    EXPECT_EQ(PngChunk(file, "PLTE").size(), 3 * c.paletteEntries) << c.width;
    // White is not among the ten entries in use: the nearest is the lightest.
    EXPECT_EQ(PngChunk(file, "bKGD"),
              (std::vector<uint8_t>{static_cast<uint8_t>(c.paletteEntries - 1)}));
    EXPECT_EQ(PngChunk(file, "pHYs"),
              (std::vector<uint8_t>{0, 0, 0x0E, 0xC4, 0, 0, 0x0E, 0xC4, 1}));  // 3780, metre
    DibImage loaded;
    int grey = -1;
    ASSERT_EQ(ReadPngFile(dir / "grey.png", loaded, &grey), 1);
    EXPECT_EQ(grey, 1);
    for (int32_t y = 0; y < c.height; y += 7) {
      for (int32_t x = 0; x < c.width; x += 3) {
        const auto v = static_cast<uint8_t>(((x + c.height - 1 - y) % 10) * 17);
        ASSERT_EQ(test::PixelAt(loaded, x, y), (test::Bgr{v, v, v}));
      }
    }
  }

  // 24-bit containers: RGB with a white bKGD; Adam7 on request.
  DibImage page = test::MakePattern(23, 17);
  CxImage colour;
  ASSERT_TRUE(page.ToContainer(false, colour));
  for (const uint32_t option : {0u, 1u}) {
    colour.SetCodecOption(kCxImagePng, option);
    const std::vector<uint8_t> file = Encode(colour, dir / "colour.png");
    EXPECT_EQ(PngChunk(file, "IHDR")[9], 2);
    EXPECT_EQ(PngChunk(file, "IHDR")[12], option);
    EXPECT_EQ(PngChunk(file, "bKGD"), (std::vector<uint8_t>{0, 255, 0, 255, 0, 255}));
    DibImage loaded;
    int grey = -1;
    ASSERT_EQ(ReadPngFile(dir / "colour.png", loaded, &grey), 1);
    EXPECT_EQ(grey, 0);
    EXPECT_EQ(loaded.PackedDib(), page.PackedDib());
  }

  CxImage empty;
  EXPECT_FALSE(EncodePng(empty, nullptr));
}

}  // namespace
}  // namespace inkbrite
