// SPDX-License-Identifier: GPL-2.0-or-later
// TIFF reading, writing and the container's TIFF encoder.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "core/ximage.h"
#include "formats/jpeg/jpeg_codec.h"
#include "formats/tiff/tiff_codec.h"
#include "tests/test_support.h"

namespace inkbrite {
namespace {

namespace fs = std::filesystem;

struct Layout {
  uint32_t width = 40;
  uint32_t height = 20;
  uint16_t bits = 8;
  uint16_t samples = 3;
  uint16_t photometric = PHOTOMETRIC_RGB;
  float xRes = 0;  // 0: no resolution tags
  float yRes = 0;
  uint16_t orientation = ORIENTATION_TOPLEFT;
};

// Writes an uncompressed TIFF whose sample bytes are given by
// value(x, y, channel); `pages` adds further pages of half the size.
void MakeTiff(const fs::path& path, const Layout& l,
              const std::function<uint8_t(uint32_t, uint32_t, uint32_t)>& value, int pages = 1) {
  TIFFSetErrorHandler(nullptr);
  TIFF* tif = TIFFOpen(path.c_str(), "w");
  ASSERT_NE(tif, nullptr);
  for (int page = 0; page < pages; ++page) {
    const uint32_t w = l.width >> page, h = l.height >> page;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, w);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, h);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, l.bits);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, l.samples);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, l.photometric);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_ORIENTATION, l.orientation);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, h);
    if (l.xRes > 0) {
      TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
      TIFFSetField(tif, TIFFTAG_XRESOLUTION, l.xRes);
      TIFFSetField(tif, TIFFTAG_YRESOLUTION, l.yRes);
    }
    std::vector<uint8_t> line(static_cast<size_t>(TIFFScanlineSize(tif)));
    for (uint32_t y = 0; y < h; ++y) {
      for (uint32_t x = 0; x < w; ++x) {
        if (l.bits == 1) {  // one sample a pixel, packed from the high bit
          const auto bit = static_cast<uint8_t>(0x80 >> (x % 8));
          line[x / 8] =
              static_cast<uint8_t>(value(x, y, 0) ? line[x / 8] | bit : line[x / 8] & ~bit);
        }
        for (uint32_t c = 0; c < l.samples && l.bits == 8; ++c)
          line[x * l.samples + c] = value(x, y, c);
      }
      ASSERT_GE(TIFFWriteScanline(tif, line.data(), y, 0), 0);
    }
    TIFFWriteDirectory(tif);
  }
  TIFFClose(tif);
}

uint8_t Sample(uint32_t x, uint32_t y, uint32_t c) {
  return static_cast<uint8_t>(x * 5 + y * 11 + c * 70);
}

struct Tags {
  uint32_t rowsPerStrip = 0, strips = 0;
  uint16_t compression = 0, photometric = 0, bits = 0, samples = 0, unit = 0;
  float xRes = 0, yRes = 0;
  bool colourMap = false;
};

Tags ReadTags(const fs::path& path) {
  Tags t;
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  if (tif == nullptr) return t;
  uint16_t *r = nullptr, *g = nullptr, *b = nullptr;
  TIFFGetField(tif, TIFFTAG_ROWSPERSTRIP, &t.rowsPerStrip);
  TIFFGetField(tif, TIFFTAG_COMPRESSION, &t.compression);
  TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &t.photometric);
  TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, &t.bits);
  TIFFGetField(tif, TIFFTAG_SAMPLESPERPIXEL, &t.samples);
  TIFFGetField(tif, TIFFTAG_RESOLUTIONUNIT, &t.unit);
  TIFFGetField(tif, TIFFTAG_XRESOLUTION, &t.xRes);
  TIFFGetField(tif, TIFFTAG_YRESOLUTION, &t.yRes);
  t.colourMap = TIFFGetField(tif, TIFFTAG_COLORMAP, &r, &g, &b) != 0;
  t.strips = TIFFNumberOfStrips(tif);
  TIFFClose(tif);
  return t;
}

// Orientations 5, 7 and 8 are turned upright like 6, but their references
// keep the sideways 88 x 590 picture: they are compared with orientation 1
// here (every other corpus file is checked through LoadImageFile). The source
// files differ from it in about 100 pixels; a wrong turn differs in thousands.
TEST(ReadTiffFile, CorpusOrientationsFiveSevenAndEightAreTurnedUpright) {
  INKBRITE_NEED_CORPUS();
  const fs::path dir = test::CorpusDir() / "tiff/pillow";
  DibImage upright;
  ASSERT_EQ(ReadTiffFile(dir / "g4_orientation_1.tif", upright, nullptr), 1);
  for (const char* name :
       {"g4_orientation_5.tif", "g4_orientation_7.tif", "g4_orientation_8.tif"}) {
    DibImage image;
    ASSERT_EQ(ReadTiffFile(dir / name, image, nullptr), 1) << name;
    ASSERT_EQ(std::pair(image.Width(), image.Height()), std::pair(590, 88)) << name;
    int differing = 0;
    for (int y = 0; y < 88; ++y)
      for (int x = 0; x < 590; ++x)
        differing += test::PixelAt(image, x, y) != test::PixelAt(upright, x, y);
    EXPECT_LT(differing, 200) << name;
  }
}

TEST(ReadTiffFile, FaxResolutionsMakeSquarePixels) {
  test::TempDir dir;
  struct Case {
    float x, y;
    int width, height;
  };
  // 204 x 196: height x 1.0408; 204 x 98 (ratio 2.08 > 2) and 204 x 49:
  // width / ratio; 10 x 300 counts as no resolution; 200 x 200 is square.
  for (const Case c : {Case{204, 196, 100, 52}, Case{204, 98, 48, 50}, Case{204, 49, 24, 50},
                       Case{10, 300, 100, 50}, Case{200, 200, 100, 50}}) {
    const Layout l{100, 50, 1, 1, PHOTOMETRIC_MINISWHITE, c.x, c.y};
    const fs::path path = dir / "fax.tif";
    MakeTiff(path, l, [](uint32_t x, uint32_t y, uint32_t) { return (x / 10 + y / 10) % 2; });
    DibImage image;
    int grey = -1;
    ASSERT_EQ(ReadTiffFile(path, image, &grey), 1) << c.x << "x" << c.y;
    EXPECT_EQ(grey, 1);
    EXPECT_EQ(image.Width(), c.width) << c.x << "x" << c.y;
    EXPECT_EQ(image.Height(), c.height) << c.x << "x" << c.y;
  }
  // Nothing below 10 pixels is resampled.
  DibImage small = test::MakePattern(12, 9);
  CorrectPixelAspect(small, 204, 98);
  EXPECT_EQ(small.Width(), 12);
}

TEST(ReadTiffFile, FirstPageAndOrientationSix) {
  test::TempDir dir;
  Layout l;
  MakeTiff(dir / "pages.tif", l, Sample, 3);
  DibImage image;
  int grey = -1;
  ASSERT_EQ(ReadTiffFile(dir / "pages.tif", image, &grey), 1);
  EXPECT_EQ(grey, 0);
  ASSERT_EQ(image.Width(), 40);
  ASSERT_EQ(image.Height(), 20);
  for (uint32_t y = 0; y < 20; ++y)
    for (uint32_t x = 0; x < 40; ++x)
      ASSERT_EQ(test::PixelAt(image, x, y),
                (test::Bgr{Sample(x, y, 2), Sample(x, y, 1), Sample(x, y, 0)}));

  // Orientation 6: stored row r is the picture's column (h - 1 - r) and
  // stored column c its row c.
  l.orientation = ORIENTATION_RIGHTTOP;
  MakeTiff(dir / "turned.tif", l, Sample);
  ASSERT_EQ(ReadTiffFile(dir / "turned.tif", image, &grey), 1);
  ASSERT_EQ(image.Width(), 20);
  ASSERT_EQ(image.Height(), 40);
  for (uint32_t y = 0; y < 40; ++y)
    for (uint32_t x = 0; x < 20; ++x) {
      const uint32_t r = 19 - x, c = y;
      ASSERT_EQ(test::PixelAt(image, x, y),
                (test::Bgr{Sample(c, r, 2), Sample(c, r, 1), Sample(c, r, 0)}))
          << x << "," << y;
    }
}

// The single-strip JPEG fast path (a complete JPEG stream as the only strip,
// no shared tables) turns the picture as the general path does: orientation
// 6 gives the orientation-1 picture turned clockwise.
TEST(ReadTiffFile, JpegFastPathHonoursOrientation) {
  test::TempDir dir;
  const DibImage source = test::MakeImage(32, 16, [](int32_t x, int32_t y) {
    const auto v = static_cast<uint8_t>(x < 16 && y < 8 ? 240 : 20);
    return test::Bgr{v, v, v};
  });
  ASSERT_EQ(WriteJpegFile(dir / "strip.jpg", source, 95, 1), 1);
  const std::vector<uint8_t> jpeg = test::ReadAll(dir / "strip.jpg");
  for (const uint16_t orientation : {ORIENTATION_TOPLEFT, ORIENTATION_RIGHTTOP}) {
    TIFF* tif = TIFFOpen((dir / std::to_string(orientation)).c_str(), "w");
    ASSERT_NE(tif, nullptr);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, 32);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, 16);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_JPEG);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tif, TIFFTAG_ORIENTATION, orientation);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 16);
    ASSERT_GT(TIFFWriteRawStrip(tif, 0, const_cast<uint8_t*>(jpeg.data()), jpeg.size()), 0);
    TIFFClose(tif);
  }
  DibImage plain, turned;
  int grey = -1;
  ASSERT_EQ(ReadTiffFile(dir / "1", plain, &grey), 1);
  EXPECT_EQ(grey, 1);
  ASSERT_EQ(ReadTiffFile(dir / "6", turned, &grey), 1);
  ASSERT_EQ(turned.Width(), 16);
  ASSERT_TRUE(plain.Rotate90(true));
  EXPECT_EQ(test::PixelAt(turned, 12, 4).g, test::PixelAt(plain, 12, 4).g);
  EXPECT_GT(test::PixelAt(turned, 12, 4).g, 200);  // the bright corner is top right
  EXPECT_LT(test::PixelAt(turned, 3, 4).g, 60);
}

TEST(ReadTiffFile, OversizedDamagedAndTruncatedFilesNeverCrash) {
  test::TempDir dir;
  MakeTiff(dir / "wide.tif", Layout{70000, 1, 1, 1, PHOTOMETRIC_MINISBLACK},
           [](uint32_t, uint32_t, uint32_t) { return 0; });
  DibImage image;
  EXPECT_EQ(ReadTiffFile(dir / "wide.tif", image, nullptr), 0);
  EXPECT_EQ(ReadTiffFile(dir / "missing.tif", image, nullptr), 0);

  INKBRITE_NEED_CORPUS();
  std::mt19937 random(7);
  for (const char* name :
       {"libtiff/rgb-3c-8b.tiff", "pillow/hopper_jpg.tif", "pillow/child_ifd.tiff",
        "libtiff/ojpeg_chewey_subsamp21_multi_strip.tiff",
        "libtiff/ojpeg_zackthecat_subsamp22_single_strip.tiff",
        "libtiff/ojpeg_single_strip_no_rowsperstrip.tiff", "goimage/bw-gopher_ccittGroup4.tiff"}) {
    const std::vector<uint8_t> file = test::ReadAll(test::CorpusDir() / "tiff" / name);
    ASSERT_GT(file.size(), 64u) << name;
    // Prefixes: any result, but no crash and no access outside the buffer
    // (checked under the sanitizers).
    const size_t step = std::max<size_t>(1, file.size() / 60);
    for (size_t size = 0; size < file.size(); size += step) {
      const std::vector<uint8_t> prefix(file.begin(), file.begin() + size);
      DibImage out;
      DecodeTiffBytes(prefix.data(), prefix.size(), out, nullptr);
    }
    // Lying directories: random bytes written over the first directory's
    // entries (counts, offsets, table positions, strip lists).
    const bool big = file[0] == 'M';
    const uint32_t ifd = big ? (uint32_t{file[4]} << 24 | file[5] << 16 | file[6] << 8 | file[7])
                             : (uint32_t{file[7]} << 24 | file[6] << 16 | file[5] << 8 | file[4]);
    if (ifd + 2 >= file.size()) continue;
    const size_t span = std::min<size_t>(file.size() - ifd, 2 + 12 * 24);
    for (int round = 0; round < 60; ++round) {
      std::vector<uint8_t> damaged = file;
      for (int k = 0; k < 3; ++k)
        damaged[ifd + 2 + random() % (span - 2)] = static_cast<uint8_t>(random());
      DibImage out;
      DecodeTiffBytes(damaged.data(), damaged.size(), out, nullptr);
    }
  }
}

TEST(WriteTiffFile, ColourAndGreyAreJpegAt96DpiAndReadBack) {
  test::TempDir dir;
  const DibImage page = test::MakeImage(64, 48, [](int32_t x, int32_t y) {
    return test::Bgr{uint8_t(x * 3), uint8_t(y * 4), 200};
  });

  ASSERT_EQ(WriteTiffFile(dir / "colour.tif", page, 0, 70), 1);
  Tags t = ReadTags(dir / "colour.tif");
  EXPECT_EQ(t.compression, COMPRESSION_JPEG);
  EXPECT_EQ(t.photometric, PHOTOMETRIC_YCBCR);
  EXPECT_EQ(t.strips, 1u);
  EXPECT_EQ(t.rowsPerStrip, 48u);
  EXPECT_EQ(t.unit, RESUNIT_INCH);
  EXPECT_FLOAT_EQ(t.xRes, 96);
  EXPECT_FLOAT_EQ(t.yRes, 96);
  DibImage back;
  int grey = -1;
  ASSERT_EQ(ReadTiffFile(dir / "colour.tif", back, &grey), 1);
  EXPECT_EQ(grey, 0);
  const test::Bgr p = test::PixelAt(back, 32, 24);
  EXPECT_LE(std::max({std::abs(p.b - 96), std::abs(p.g - 96), std::abs(p.r - 200)}), 12);

  ASSERT_EQ(WriteTiffFile(dir / "grey.tif", page, 1, 90), 1);
  t = ReadTags(dir / "grey.tif");
  EXPECT_EQ(t.compression, COMPRESSION_JPEG);
  EXPECT_EQ(t.photometric, PHOTOMETRIC_MINISBLACK);
  EXPECT_EQ(t.bits, 8);
  EXPECT_EQ(t.samples, 1);
  ASSERT_EQ(ReadTiffFile(dir / "grey.tif", back, &grey), 1);
  EXPECT_EQ(grey, 1);
  EXPECT_NEAR(test::PixelAt(back, 32, 24).g, (54 * 96 + 183 * 96 + 19 * 200) >> 8, 6);

  // Odd sizes: one strip of the height rounded up to a multiple of 8.
  ASSERT_EQ(WriteTiffFile(dir / "odd.tif", test::MakePattern(33, 17), 0, 70), 1);
  EXPECT_EQ(ReadTags(dir / "odd.tif").rowsPerStrip, 24u);
  ASSERT_EQ(ReadTiffFile(dir / "odd.tif", back, &grey), 1);
  EXPECT_EQ(std::pair(back.Width(), back.Height()), std::pair(33, 17));
}

// JPEG codes at most 65500 pixels per side. A page taller than that is
// written in several JPEG strips, one wider is written losslessly (LZW), so
// every page of up to 65535 pixels per side that BMP and PNG write is
// written here too.
TEST(WriteTiffFile, SidesUpTo65535AreWrittenAndReadBack) {
  test::TempDir dir;
  const auto smooth = [](int32_t x, int32_t y) {
    return test::Bgr{uint8_t(x / 300), uint8_t(y / 300), uint8_t(100 + (x + y) % 7)};
  };
  struct Case {
    int32_t width, height;
    int colourMode;
    uint16_t compression;
    uint32_t strips;
  };
  for (const Case c :
       {Case{100, 65534, 0, COMPRESSION_JPEG, 2}, Case{100, 65535, 1, COMPRESSION_JPEG, 2},
        Case{65534, 100, 0, COMPRESSION_LZW, 1}, Case{65535, 1, 1, COMPRESSION_LZW, 1}}) {
    SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height));
    const DibImage page = test::MakeImage(c.width, c.height, smooth);
    const fs::path file = dir / "page.tif";
    ASSERT_EQ(WriteTiffFile(file, page, c.colourMode, 90), 1);
    const Tags t = ReadTags(file);
    EXPECT_EQ(t.compression, c.compression);
    EXPECT_EQ(t.strips, c.strips);
    DibImage back;
    int grey = -1;
    ASSERT_EQ(ReadTiffFile(file, back, &grey), 1);
    EXPECT_EQ(grey, c.colourMode);
    ASSERT_EQ(std::pair(back.Width(), back.Height()), std::pair(c.width, c.height));
    // Across the strips' joins and at the far corner as well as the start.
    for (const auto& [x, y] : {std::pair{0, 0}, std::pair{c.width - 1, c.height - 1},
                               std::pair{c.width / 2, std::min(c.height - 1, 65490)}}) {
      test::Bgr want = smooth(x, y);
      if (c.colourMode != 0) {  // greyed as Greyscale greys
        want.b = want.g = want.r = uint8_t((54 * want.b + 183 * want.g + 19 * want.r) >> 8);
      }
      const test::Bgr got = test::PixelAt(back, x, y);
      EXPECT_LE(
          std::max({std::abs(got.b - want.b), std::abs(got.g - want.g), std::abs(got.r - want.r)}),
          c.compression == COMPRESSION_LZW ? 1 : 8)
          << x << ", " << y;
    }
  }
}

TEST(WriteTiffFile, FailureReturnsZeroAndWritesNothing) {
  test::TempDir dir;
  EXPECT_EQ(WriteTiffFile(dir / "no" / "page.tif", test::MakePattern(8, 8), 0, 70), 0);
  EXPECT_TRUE(fs::is_empty(dir.path()));
  CxImage empty;
  std::vector<uint8_t> bytes;
  EXPECT_FALSE(EncodeTiffBytes(empty, bytes));
  EXPECT_FALSE(EncodeTiff(empty, nullptr));
}

// libtiff's process-wide handlers are set once; reading and writing never
// set them again (from several batch workers at once that was a data race).
void NoMessage(const char*, const char*, va_list) {}

TEST(ReadTiffFile, LeavesLibtiffsProcessWideHandlersAlone) {
  test::TempDir dir;
  ASSERT_EQ(WriteTiffFile(dir / "page.tif", test::MakePattern(16, 8), 0, 70), 1);
  const std::vector<uint8_t> file = test::ReadAll(dir / "page.tif");
  DibImage image;
  ASSERT_EQ(DecodeTiffBytes(file.data(), file.size(), image, nullptr), 1);
  const TIFFErrorHandler oldError = TIFFSetErrorHandler(NoMessage);
  const TIFFErrorHandler oldWarning = TIFFSetWarningHandler(NoMessage);
  EXPECT_EQ(DecodeTiffBytes(file.data(), file.size(), image, nullptr), 1);
  EXPECT_EQ(WriteTiffFile(dir / "again.tif", image, 1, 70), 1);
  EXPECT_EQ(TIFFSetErrorHandler(oldError), &NoMessage);
  EXPECT_EQ(TIFFSetWarningHandler(oldWarning), &NoMessage);
}

TEST(EncodeTiff, DepthChoosesCompressionAndPhotometric) {
  test::TempDir dir;
  const RgbQuad black{0, 0, 0, 0}, white{255, 255, 255, 0};
  struct Case {
    int bits;
    bool greyRamp;
    uint16_t compression, photometric;
    bool colourMap;
  };
  for (const Case c : {Case{1, false, COMPRESSION_CCITTFAX4, PHOTOMETRIC_MINISWHITE, false},
                       Case{4, false, COMPRESSION_LZW, PHOTOMETRIC_PALETTE, true},
                       Case{4, true, COMPRESSION_LZW, PHOTOMETRIC_MINISBLACK, false},
                       Case{8, true, COMPRESSION_JPEG, PHOTOMETRIC_MINISBLACK, false},
                       Case{8, false, COMPRESSION_LZW, PHOTOMETRIC_PALETTE, true}}) {
    SCOPED_TRACE(std::to_string(c.bits) + (c.greyRamp ? " ramp" : " palette"));
    const size_t entries = size_t{1} << c.bits;
    std::vector<RgbQuad> palette(entries);
    for (size_t i = 0; i < entries; ++i) {
      const auto v = static_cast<uint8_t>(i);
      palette[i] =
          c.greyRamp ? RgbQuad{v, v, v, 0} : RgbQuad{static_cast<uint8_t>(i * 7), v, 255, 0};
    }
    if (c.bits == 1) palette = {black, white};  // entry 0 darker: bits inverted
    CxImage image = test::MakeIndexed(33, 17, c.bits, kCxImageTiff, palette, [&](int x, int y) {
      return static_cast<uint8_t>((x + 2 * y) % entries);
    });
    const fs::path path = dir / "page.tif";
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    ASSERT_TRUE(EncodeTiff(image, file)) << image.LastError();
    std::fclose(file);
    const Tags t = ReadTags(path);
    EXPECT_EQ(t.compression, c.compression);
    EXPECT_EQ(t.photometric, c.photometric);
    EXPECT_EQ(t.bits, c.bits);
    EXPECT_EQ(t.colourMap, c.colourMap);
    EXPECT_EQ(t.rowsPerStrip, 24u);
    DibImage back;
    ASSERT_EQ(ReadTiffFile(path, back, nullptr), 1);
    if (c.compression == COMPRESSION_JPEG || (c.bits == 4 && c.greyRamp)) continue;
    // Lossless pictures read back with their palette colours (y from the top
    // is stored row 16 - y).
    for (int y = 0; y < 17; ++y)
      for (int x = 0; x < 33; ++x) {
        const RgbQuad q = palette[(x + 2 * (16 - y)) % entries];
        ASSERT_EQ(test::PixelAt(back, x, y), (test::Bgr{q.blue, q.green, q.red})) << x << "," << y;
      }
  }
}

}  // namespace
}  // namespace inkbrite
