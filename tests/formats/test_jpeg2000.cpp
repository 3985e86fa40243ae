// SPDX-License-Identifier: GPL-2.0-or-later
// JPEG 2000 reading and JP2 writing.
#include <gtest/gtest.h>
#include <openjpeg-2.5/openjpeg.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "core/ximage.h"
#include "formats/jpeg2000/jp2_codec.h"
#include "tests/test_support.h"

namespace inkbrite {
namespace {

namespace fs = std::filesystem;

// A losslessly coded picture made with the library itself, independently of
// the writer under test: `comps` components of the given precision and
// signedness, sample(c, x, y) for their values.
std::vector<uint8_t> MakeCodeStream(int comps, int prec, bool sgnd, int w, int h,
                                    const std::function<int(int, int, int)>& sample,
                                    OPJ_CODEC_FORMAT format = OPJ_CODEC_J2K, int tile = 0) {
  std::vector<opj_image_cmptparm_t> parts(comps);
  for (auto& p : parts) {
    std::memset(&p, 0, sizeof p);
    p.dx = p.dy = 1;
    p.w = static_cast<OPJ_UINT32>(w);
    p.h = static_cast<OPJ_UINT32>(h);
    p.prec = static_cast<OPJ_UINT32>(prec);
    p.sgnd = sgnd ? 1 : 0;
  }
  opj_image_t* image = opj_image_create(static_cast<OPJ_UINT32>(comps), parts.data(),
                                        comps == 3 ? OPJ_CLRSPC_SRGB : OPJ_CLRSPC_GRAY);
  image->x1 = static_cast<OPJ_UINT32>(w);
  image->y1 = static_cast<OPJ_UINT32>(h);
  for (int c = 0; c < comps; ++c) {
    for (int i = 0; i < w * h; ++i) image->comps[c].data[i] = sample(c, i % w, i / w);
  }
  opj_cparameters_t parameters;
  opj_set_default_encoder_parameters(&parameters);
  parameters.numresolution = 2;
  if (tile > 0) {
    parameters.tile_size_on = OPJ_TRUE;
    parameters.cp_tdx = parameters.cp_tdy = tile;
  }
  opj_codec_t* codec = opj_create_compress(format);
  opj_setup_encoder(codec, &parameters, image);
  const test::TempDir dir;
  const std::string path = (dir / "made.j2k").string();
  opj_stream_t* stream = opj_stream_create_default_file_stream(path.c_str(), OPJ_FALSE);
  const bool ok = opj_start_compress(codec, image, stream) && opj_encode(codec, stream) &&
                  opj_end_compress(codec, stream);
  opj_stream_destroy(stream);
  opj_destroy_codec(codec);
  opj_image_destroy(image);
  return ok ? test::ReadAll(path) : std::vector<uint8_t>{};
}

TEST(DecodeJpeg2000Bytes, WideSamplesAreScaledByTheirPrecisionNotCutToTheLowByte) {
  // 16-bit unsigned grey: the high byte.
  const auto grey16 = MakeCodeStream(
      1, 16, false, 16, 4, [](int, int x, int y) { return (x * 4099 + y * 257) & 0xFFFF; });
  DibImage image;
  int grey = -1;
  ASSERT_EQ(DecodeJpeg2000Bytes(grey16.data(), grey16.size(), image, &grey), 1);
  EXPECT_EQ(grey, 1);
  for (int x = 0; x < 16; ++x) {
    const uint8_t v = static_cast<uint8_t>(((x * 4099 + 3 * 257) & 0xFFFF) >> 8);
    EXPECT_EQ(test::PixelAt(image, x, 3), (test::Bgr{v, v, v})) << x;
  }
  // 12-bit signed colour: offset to unsigned, then the top 8 bits.
  auto value = [](int c, int x, int y) { return (c * 700 + x * 131 + y * 37) % 4096 - 2048; };
  const auto colour12 = MakeCodeStream(3, 12, true, 8, 8, value, OPJ_CODEC_JP2);
  ASSERT_EQ(DecodeJpeg2000Bytes(colour12.data(), colour12.size(), image, &grey), 1);
  EXPECT_EQ(grey, 0);
  auto to8 = [&](int c, int x, int y) {
    return static_cast<uint8_t>((value(c, x, y) + 2048) >> 4);
  };
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 8; ++x) {
      EXPECT_EQ(test::PixelAt(image, x, y), (test::Bgr{to8(2, x, y), to8(1, x, y), to8(0, x, y)}));
    }
  }
}

TEST(DecodeJpeg2000Bytes, OtherLayoutsGiveGreyFromTheFirstComponent) {
  // Four components, and two.
  for (const int comps : {4, 2}) {
    const auto bytes = MakeCodeStream(
        comps, 8, false, 9, 5, [](int c, int x, int y) { return (c * 90 + x * 20 + y) & 0xFF; });
    DibImage image;
    int grey = -1;
    ASSERT_EQ(DecodeJpeg2000Bytes(bytes.data(), bytes.size(), image, &grey), 1);
    EXPECT_EQ(grey, 1);
    EXPECT_EQ(image.Width(), 9);
    EXPECT_EQ(test::PixelAt(image, 4, 2), (test::Bgr{82, 82, 82}));
  }
}

// The SIZ segment follows the start of code stream: Xsiz at byte 8, Ysiz at
// 12, XTsiz at 24, YTsiz at 28 (big-endian).
void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

TEST(DecodeJpeg2000Bytes, RefusesPicturesBeyondTheLimitsFromTheHeader) {
  const auto base = MakeCodeStream(3, 8, false, 8, 8, [](int, int x, int) { return x; });
  ASSERT_FALSE(base.empty());
  for (const auto& [w, h] : {std::pair{70000u, 8u}, std::pair{60000u, 60000u}}) {
    auto bytes = base;
    Put32(bytes, 8, w);
    Put32(bytes, 12, h);
    Put32(bytes, 24, w);
    Put32(bytes, 28, h);
    DibImage image;
    int grey = -1;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(DecodeJpeg2000Bytes(bytes.data(), bytes.size(), image, &grey), 0) << w;
    // Refused from the header: the decoder never starts on the huge tile
    // (which takes seconds and gigabytes before it fails).
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500)) << w;
    EXPECT_TRUE(image.IsEmpty());
    EXPECT_EQ(grey, -1);
  }
}

// The header's tile grid is held to what the file could hold: every tile
// needs a tile-part header and every component of it packets. A tiled file
// reads; the same file announcing a tile per pixel is refused before the
// library allocates the records of thousands of tiles.
TEST(DecodeJpeg2000Bytes, TileGridsBeyondTheFileAreRefused) {
  auto noise = [](int c, int x, int y) { return (c * 53 + x * 97 + y * 71 + x * y) & 0xFF; };
  for (const OPJ_CODEC_FORMAT format : {OPJ_CODEC_J2K, OPJ_CODEC_JP2}) {
    auto bytes = MakeCodeStream(3, 8, false, 64, 64, noise, format, 16);
    ASSERT_FALSE(bytes.empty());
    DibImage image;
    int grey = -1;
    ASSERT_EQ(DecodeJpeg2000Bytes(bytes.data(), bytes.size(), image, &grey), 1) << format;
    EXPECT_EQ(test::PixelAt(image, 37, 50), (test::Bgr{static_cast<uint8_t>(noise(2, 37, 50)),
                                                       static_cast<uint8_t>(noise(1, 37, 50)),
                                                       static_cast<uint8_t>(noise(0, 37, 50))}));
    // The code stream's SIZ marker: XTsiz and YTsiz at 24 and 28.
    const uint8_t soc[4] = {0xFF, 0x4F, 0xFF, 0x51};
    const auto siz = std::search(bytes.begin(), bytes.end(), soc, soc + 4) - bytes.begin();
    ASSERT_LT(siz + 32, static_cast<long>(bytes.size()));
    Put32(bytes, static_cast<size_t>(siz) + 24, 1);
    Put32(bytes, static_cast<size_t>(siz) + 28, 1);
    EXPECT_EQ(DecodeJpeg2000Bytes(bytes.data(), bytes.size(), image, &grey), 0) << format;
    EXPECT_TRUE(image.IsEmpty());
  }
}

TEST(DecodeJpeg2000Bytes, TruncatedPrefixesOfRealFilesNeverCrash) {
  INKBRITE_NEED_CORPUS();
  const fs::path dir = test::CorpusDir() / "jpeg2000";
  for (const char* name : {"openjpeg/relax.jp2", "conformance/p0_01.j2k", "conformance/p1_06.j2k",
                           "pillow/16bit.cropped.jp2"}) {
    const auto whole = test::ReadAll(dir / name);
    ASSERT_FALSE(whole.empty()) << name;
    const size_t step = std::max<size_t>(1, whole.size() / 60);
    for (size_t n = 0; n < whole.size(); n += (n < 200 ? 1 : step)) {
      // An exactly sized copy, so a read past its end is a heap overflow.
      const std::vector<uint8_t> prefix(whole.begin(), whole.begin() + static_cast<long>(n));
      DibImage image;
      int grey = -1;
      const int result = DecodeJpeg2000Bytes(prefix.data(), prefix.size(), image, &grey);
      EXPECT_EQ(result == 1, !image.IsEmpty()) << name << " " << n;
    }
  }
}

TEST(Jp2RateForQuality, CubeOfTheQualityWithAFloor) {
  for (const auto& [quality, rate] :
       {std::pair{70, 0.343}, {100, 1.0}, {50, 0.125}, {5, 0.001}, {0, 0.001}}) {
    EXPECT_DOUBLE_EQ(Jp2RateForQuality(quality), rate) << quality;
  }
}

TEST(WriteJp2File, LosslessAtQuality100AndSizedByTheRateBelow) {
  test::TempDir dir;
  const DibImage page = test::MakePattern(64, 40);
  for (const int mode : {0, 1}) {
    const fs::path path = dir / ("page" + std::to_string(mode) + ".jp2");
    ASSERT_EQ(WriteJp2File(path, page, mode, 100), 1);
    DibImage back;
    int grey = -1;
    ASSERT_EQ(ReadJpeg2000File(path, back, &grey), 1);
    EXPECT_EQ(grey, mode);
    ASSERT_EQ(back.Width(), 64);
    ASSERT_EQ(back.Height(), 40);
    for (int y = 0; y < 40; y += 3) {
      for (int x = 0; x < 64; x += 5) {
        const test::Bgr p = test::PixelAt(page, x, y);
        const test::Bgr q = test::PixelAt(back, x, y);
        if (mode == 0) {
          EXPECT_LE(std::abs(p.b - q.b) + std::abs(p.g - q.g) + std::abs(p.r - q.r), 1);
        } else {
          const int v = (54 * p.b + 183 * p.g + 19 * p.r) >> 8;  // as Greyscale
          EXPECT_LE(std::abs(v - q.b), 1);
          EXPECT_TRUE(q.b == q.g && q.g == q.r);
        }
      }
    }
  }
  // Quality 50 keeps an eighth of the 64 x 40 x 3 raw bytes (plus the boxes
  // and headers); quality 5 keeps almost nothing but still decodes.
  ASSERT_EQ(WriteJp2File(dir / "q50.jp2", page, 0, 50), 1);
  EXPECT_LE(test::ReadAll(dir / "q50.jp2").size(), 64u * 40 * 3 / 8 + 400);
  EXPECT_GT(test::ReadAll(dir / "page0.jp2").size(), 64u * 40 * 3 / 8 + 400);
  ASSERT_EQ(WriteJp2File(dir / "q5.jp2", test::MakePattern(1, 1), 0, 5), 1);
  DibImage tiny;
  EXPECT_EQ(ReadJpeg2000File(dir / "q5.jp2", tiny, nullptr), 1);
}

TEST(EncodeJp2, RefusesColourPalettesAndFailuresLeaveThePreviousFile) {
  CxImage palette;
  ASSERT_TRUE(palette.Create(4, 4, 8, kCxImageJp2));
  RgbQuad red{0, 0, 255, 0};
  palette.SetPalette(&red, 1);
  std::vector<uint8_t> out{1, 2, 3};
  EXPECT_FALSE(EncodeJp2(palette, out));
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(palette.LastError(), "JasPer can save only RGB or GrayScale images");

  CxImage ramp;
  ASSERT_TRUE(ramp.Create(4, 4, 8, kCxImageJp2));
  std::vector<RgbQuad> table(256);
  for (int i = 0; i < 256; ++i) table[i] = {uint8_t(i), uint8_t(i), uint8_t(i), 0};
  ramp.SetPalette(table.data(), table.size());
  ramp.SetJpegQuality(100);
  ramp.SetPixelIndex(1, 3, 200);  // top row, second pixel
  ASSERT_TRUE(EncodeJp2(ramp, out));
  DibImage back;
  int grey = -1;
  ASSERT_EQ(DecodeJpeg2000Bytes(out.data(), out.size(), back, &grey), 1);
  EXPECT_EQ(grey, 1);
  EXPECT_EQ(test::PixelAt(back, 1, 0), (test::Bgr{200, 200, 200}));

  test::TempDir dir;
  test::WriteAll(dir / "old.jp2", {9, 9, 9});
  EXPECT_EQ(WriteJp2File(dir / "old.jp2", DibImage(), 0, 90), 0);
  EXPECT_EQ(test::ReadAll(dir / "old.jp2"), (std::vector<uint8_t>{9, 9, 9}));
  EXPECT_EQ(WriteJp2File(dir / "missing" / "x.jp2", test::MakePattern(4, 4), 0, 90), 0);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

}  // namespace
}  // namespace inkbrite
