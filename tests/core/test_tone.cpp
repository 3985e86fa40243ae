// Tests of the tone tables and the five tone operations of DibImage.
//
// Expected values come from slow references written differently from the
// code under test (long double powers, floating-point rounding, exact integer
// Bernstein sums), plus the hand-worked values of the edge cases.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/dib_image.h"
#include "core/tone.h"

namespace inkbrite {
namespace {

// ---------------------------------------------------------------------------
// References

int RefBrightness(int v, int p) {
  return std::min(255, static_cast<int>(std::floor(v * (p / 100.0) + 1e-9)));
}

int RefContrast(int v, int p) {
  // (v - 128) * p / 100 truncated toward zero, then shifted back and clamped.
  const double scaled = std::trunc((v - 128) * static_cast<double>(p) / 100.0);
  return std::clamp(static_cast<int>(scaled) + 128, 0, 255);
}

int RefGamma(int v, int p) {
  if (p == 0) return 255;  // 0^0 counts as 1: black turns white as well
  const long double x =
      255.0L * std::pow(static_cast<long double>(v) / 255.0L, p / 100.0L);
  return std::min(255, static_cast<int>(std::floor(x + 0.5L)));
}

// The Bezier curve over 0, y1, y2, 255 at t = i / 256 in exact integers:
// value * 256^3 = 3 (256-i)^2 i y1 + 3 (256-i) i^2 y2 + 255 i^3.
int RefCurve(int i, int64_t y1, int64_t y2) {
  const int64_t s = 256 - i;
  const int64_t scale = int64_t{1} << 24;
  const int64_t numerator =
      3 * s * s * i * y1 + 3 * s * i * i * y2 + 255 * int64_t{i} * i * i;
  const int64_t halfUp = numerator + scale / 2;  // value + 0.5, scaled
  if (halfUp < scale) return 0;                  // truncates to 0 or below
  return static_cast<int>(std::min<int64_t>(halfUp / scale, 255));
}

// ---------------------------------------------------------------------------
// Images

constexpr uint8_t kPadMarker = 0xA5;

// A 24-bit image whose byte at (x, y, channel c) is fill(x, y, c). The
// padding at the end of each row is set to kPadMarker.
DibImage MakeImage(int width, int height,
                   const std::function<uint8_t(int, int, int)>& fill) {
  DibImage image;
  EXPECT_TRUE(image.Create(width, height, 24));
  for (int y = 0; y < height; ++y) {
    uint8_t* row = image.Row(y);
    for (int x = 0; x < width; ++x) {
      for (int c = 0; c < 3; ++c) row[x * 3 + c] = fill(x, y, c);
    }
    for (int i = width * 3; i < image.RowBytes(); ++i) row[i] = kPadMarker;
  }
  return image;
}

// 5 pixels a row (15 bytes, one byte of padding), 52 rows: every byte value
// appears in every channel at least once, in differing combinations.
DibImage AllValuesImage() {
  return MakeImage(5, 52, [](int x, int y, int c) {
    return static_cast<uint8_t>((y * 5 + x) * (c == 0 ? 1 : c == 1 ? 3 : 7) + c * 40);
  });
}

// Pseudo-random content, for comparisons between two runs.
DibImage NoiseImage(int width = 7, int height = 9) {
  return MakeImage(width, height, [](int x, int y, int c) {
    uint32_t h = static_cast<uint32_t>(x) * 73856093u ^ static_cast<uint32_t>(y) * 19349663u ^
                 static_cast<uint32_t>(c) * 83492791u;
    h ^= h >> 13;
    h *= 0x5bd1e995u;
    h ^= h >> 15;
    return static_cast<uint8_t>(h);
  });
}

// An image with one pixel per entry of `pixels` (blue, green, red).
DibImage PixelsImage(const std::vector<std::array<uint8_t, 3>>& pixels) {
  return MakeImage(static_cast<int>(pixels.size()), 1, [&](int x, int, int c) {
    return pixels[static_cast<size_t>(x)][static_cast<size_t>(c)];
  });
}

std::array<uint8_t, 3> PixelAt(const DibImage& image, int x, int y = 0) {
  const uint8_t* p = image.Row(y) + x * 3;
  return {p[0], p[1], p[2]};
}

// Checks that every pixel byte of `after` is map(byte of `before`) and that
// the padding of every row is untouched.
void ExpectMapped(const DibImage& before, const DibImage& after,
                  const std::function<int(int)>& map) {
  ASSERT_EQ(before.Width(), after.Width());
  ASSERT_EQ(before.Height(), after.Height());
  for (int y = 0; y < before.Height(); ++y) {
    const uint8_t* in = before.Row(y);
    const uint8_t* out = after.Row(y);
    for (int i = 0; i < before.Width() * 3; ++i) {
      ASSERT_EQ(out[i], map(in[i])) << "row " << y << " byte " << i << " input " << int{in[i]};
    }
    for (int i = before.Width() * 3; i < before.RowBytes(); ++i) {
      ASSERT_EQ(out[i], kPadMarker) << "padding of row " << y;
    }
  }
}

// A packed 8-bit DIB with a grey palette.
DibImage EightBitImage() {
  const int width = 4, height = 3;
  const size_t rowBytes = static_cast<size_t>(DibImage::RowBytesFor(width, 8));
  std::vector<uint8_t> block(40 + 256 * 4 + rowBytes * height, 0);
  auto put32 = [&](size_t at, uint32_t v) {
    for (size_t i = 0; i < 4; ++i) block[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  put32(0, 40);
  put32(4, width);
  put32(8, height);
  block[12] = 1;  // planes
  block[14] = 8;  // bits per pixel
  for (size_t i = 0; i < 256; ++i) {
    block[40 + i * 4] = block[41 + i * 4] = block[42 + i * 4] = static_cast<uint8_t>(i);
  }
  for (size_t i = 40 + 1024; i < block.size(); ++i) block[i] = static_cast<uint8_t>(i * 31);
  DibImage image;
  EXPECT_TRUE(image.Attach(std::move(block)));
  return image;
}

// ---------------------------------------------------------------------------
// Tables

TEST(ToneTables, EveryEntryMatchesItsReference) {
  BuildToneTables();
  const ToneTable gamma = GammaTable();
  const ToneTable brightness = BrightnessTable();
  const ToneTable contrast = ContrastTable();
  for (int v = 0; v < 256; ++v) {
    for (int p = 0; p <= 200; ++p) {
      const size_t at = static_cast<size_t>(v * 201 + p);
      ASSERT_EQ(gamma[at], RefGamma(v, p)) << "gamma v=" << v << " p=" << p;
      ASSERT_EQ(brightness[at], RefBrightness(v, p)) << "brightness v=" << v << " p=" << p;
      ASSERT_EQ(contrast[at], RefContrast(v, p)) << "contrast v=" << v << " p=" << p;
    }
  }
}

TEST(ToneTables, ColumnHundredIsIdentityInAllThree) {
  for (int v = 0; v < 256; ++v) {
    const size_t at = static_cast<size_t>(v * 201 + 100);
    EXPECT_EQ(GammaTable()[at], v);
    EXPECT_EQ(BrightnessTable()[at], v);
    EXPECT_EQ(ContrastTable()[at], v);
  }
}

TEST(ToneTables, CurveTableMatchesExactBezierSums) {
  const std::array<std::array<int, 2>, 9> controls = {{
      {0, 0}, {85, 170}, {0, 255}, {255, 0}, {-39, 293},
      {300, -300}, {128, 128}, {-1000, 1000}, {17, 240},
  }};
  for (const auto& [y1, y2] : controls) {
    const std::array<uint8_t, 256> table = BuildCurveTable(y1, y2);
    for (int i = 0; i < 256; ++i) {
      ASSERT_EQ(table[static_cast<size_t>(i)], RefCurve(i, y1, y2))
          << "y1=" << y1 << " y2=" << y2 << " i=" << i;
    }
  }
}

TEST(ToneTables, CurveTableClampsFarOffControlValues) {
  const std::array<uint8_t, 256> high = BuildCurveTable(INT_MAX, INT_MAX);
  const std::array<uint8_t, 256> low = BuildCurveTable(INT_MIN, INT_MIN);
  EXPECT_EQ(high[0], 0);  // t = 0 is the first control value, 0
  EXPECT_EQ(low[0], 0);
  for (size_t i = 1; i < 256; ++i) {
    ASSERT_EQ(high[i], 255) << i;
    ASSERT_EQ(low[i], 0) << i;
  }
}

// ---------------------------------------------------------------------------
// The image operations run every case twice: with the portable loops and with
// the vector loops (skipped where the processor has none).

class ToneKernels : public testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    if (GetParam() && !ToneVectorKernelsAvailable()) GTEST_SKIP() << "no vector loops here";
    m_previous = SetToneVectorKernels(GetParam());
  }
  void TearDown() override { SetToneVectorKernels(m_previous); }

 private:
  bool m_previous = true;
};

std::string KernelName(const testing::TestParamInfo<bool>& info) {
  return info.param ? "Vector" : "Portable";
}

using ToneOperations = ToneKernels;
using Highlight = ToneKernels;
using Curve = ToneKernels;
INSTANTIATE_TEST_SUITE_P(Kernels, ToneOperations, testing::Bool(), KernelName);
INSTANTIATE_TEST_SUITE_P(Kernels, Highlight, testing::Bool(), KernelName);
INSTANTIATE_TEST_SUITE_P(Kernels, Curve, testing::Bool(), KernelName);

// ---------------------------------------------------------------------------
// Brightness, Contrast, Gamma: whole images against the references

TEST_P(ToneOperations, MapEveryByteByTheReferenceAndKeepPadding) {
  for (int p : {0, 1, 37, 50, 99, 101, 150, 199, 200}) {
    SCOPED_TRACE(p);
    const DibImage original = AllValuesImage();
    DibImage image = original;
    ASSERT_TRUE(image.Brightness(p));
    ExpectMapped(original, image, [p](int v) { return RefBrightness(v, p); });

    image = original;
    ASSERT_TRUE(image.Contrast(p));
    ExpectMapped(original, image, [p](int v) { return RefContrast(v, p); });

    image = original;
    ASSERT_TRUE(image.Gamma(p));
    ExpectMapped(original, image, [p](int v) { return RefGamma(v, p); });
  }
}

TEST_P(ToneOperations, BrightnessEdgeValues) {
  DibImage image = AllValuesImage();
  ASSERT_TRUE(image.Brightness(0));
  ExpectMapped(AllValuesImage(), image, [](int) { return 0; });

  image = PixelsImage({{100, 200, 255}, {0, 127, 128}});
  ASSERT_TRUE(image.Brightness(200));
  EXPECT_EQ(PixelAt(image, 0), (std::array<uint8_t, 3>{200, 255, 255}));
  EXPECT_EQ(PixelAt(image, 1), (std::array<uint8_t, 3>{0, 254, 255}));
}

TEST_P(ToneOperations, ContrastEdgeValues) {
  DibImage image = AllValuesImage();
  ASSERT_TRUE(image.Contrast(0));
  ExpectMapped(AllValuesImage(), image, [](int) { return 128; });

  image = PixelsImage({{0, 127, 129}, {255, 128, 1}});
  ASSERT_TRUE(image.Contrast(200));
  EXPECT_EQ(PixelAt(image, 0), (std::array<uint8_t, 3>{0, 126, 130}));
  EXPECT_EQ(PixelAt(image, 1), (std::array<uint8_t, 3>{255, 128, 0}));

  // 127 gives -0.5, which truncates to 0 rather than rounding down to -1.
  image = PixelsImage({{127, 0, 255}, {129, 126, 128}});
  ASSERT_TRUE(image.Contrast(50));
  EXPECT_EQ(PixelAt(image, 0), (std::array<uint8_t, 3>{128, 64, 191}));
  EXPECT_EQ(PixelAt(image, 1), (std::array<uint8_t, 3>{128, 127, 128}));
}

TEST_P(ToneOperations, GammaEdgeValues) {
  DibImage image = AllValuesImage();
  ASSERT_TRUE(image.Gamma(0));
  ExpectMapped(AllValuesImage(), image, [](int) { return 255; });

  // 255 * (128 / 255)^2 = 64.25.
  image = PixelsImage({{128, 0, 255}});
  ASSERT_TRUE(image.Gamma(200));
  EXPECT_EQ(PixelAt(image, 0), (std::array<uint8_t, 3>{64, 0, 255}));
}

// ---------------------------------------------------------------------------
// Highlight

TEST_P(Highlight, BrightensOnlyPixelsAboveThreeTimesTheThreshold) {
  DibImage image = PixelsImage({{200, 200, 200}, {190, 190, 190}, {100, 150, 250}});
  ASSERT_TRUE(image.Highlight(150, 190));
  EXPECT_EQ(PixelAt(image, 0), (std::array<uint8_t, 3>{255, 255, 255}));
  EXPECT_EQ(PixelAt(image, 1), (std::array<uint8_t, 3>{190, 190, 190}));
  EXPECT_EQ(PixelAt(image, 2), (std::array<uint8_t, 3>{100, 150, 250}));

  // The sum decides, not the single bytes: 255 + 255 + 60 = 570 = 3 * 190
  // stays, one more is brightened.
  image = PixelsImage({{255, 255, 60}, {255, 255, 61}, {61, 255, 255}});
  ASSERT_TRUE(image.Highlight(120, 190));
  EXPECT_EQ(PixelAt(image, 0), (std::array<uint8_t, 3>{255, 255, 60}));
  EXPECT_EQ(PixelAt(image, 1), (std::array<uint8_t, 3>{255, 255, 73}));
  EXPECT_EQ(PixelAt(image, 2), (std::array<uint8_t, 3>{73, 255, 255}));
}

TEST_P(Highlight, TestsThePixelBeforeChangingAnyOfItsBytes) {
  // A gain below 100 darkens: after blue is halved the sum would no longer
  // pass, but green and red must still be halved.
  DibImage image = PixelsImage({{200, 190, 190}, {190, 200, 190}});
  ASSERT_TRUE(image.Highlight(50, 190));
  EXPECT_EQ(PixelAt(image, 0), (std::array<uint8_t, 3>{100, 95, 95}));
  EXPECT_EQ(PixelAt(image, 1), (std::array<uint8_t, 3>{95, 100, 95}));
}

TEST_P(Highlight, WholeImageMatchesThePerPixelRule) {
  const DibImage original = NoiseImage(37, 23);
  for (int gain : {0, 60, 150, 200}) {
    for (int threshold : {0, 100, 170, 190, 255}) {
      SCOPED_TRACE(testing::Message() << "gain " << gain << " threshold " << threshold);
      DibImage image = original;
      ASSERT_TRUE(image.Highlight(gain, threshold));
      for (int y = 0; y < image.Height(); ++y) {
        for (int x = 0; x < image.Width(); ++x) {
          const std::array<uint8_t, 3> in = PixelAt(original, x, y);
          const bool light = in[0] + in[1] + in[2] > 3 * threshold;
          std::array<uint8_t, 3> expected = in;
          if (light) {
            for (uint8_t& v : expected) v = static_cast<uint8_t>(RefBrightness(v, gain));
          }
          ASSERT_EQ(PixelAt(image, x, y), expected) << x << "," << y;
        }
        for (int i = image.Width() * 3; i < image.RowBytes(); ++i) {
          ASSERT_EQ(image.Row(y)[i], kPadMarker);
        }
      }
    }
  }
}

TEST_P(Highlight, ExtremeThresholds) {
  const DibImage original = NoiseImage();
  DibImage all = original;
  ASSERT_TRUE(all.Highlight(0, INT_MIN));  // every pixel passes
  ExpectMapped(original, all, [](int) { return 0; });

  DibImage none = original;
  ASSERT_TRUE(none.Highlight(200, 255));  // no sum exceeds 765
  EXPECT_EQ(none.PackedDib(), original.PackedDib());
  ASSERT_TRUE(none.Highlight(200, INT_MAX));
  EXPECT_EQ(none.PackedDib(), original.PackedDib());
}

// ---------------------------------------------------------------------------
// Curve

TEST_P(Curve, UntouchedEditorStatesChangeNothing) {
  const DibImage original = AllValuesImage();
  DibImage image = original;
  EXPECT_TRUE(image.Curve(0, 0, 0, 0));
  EXPECT_TRUE(image.Curve(0, 0, 255, 255));
  EXPECT_EQ(image.PackedDib(), original.PackedDib());
}

TEST_P(Curve, CubeCurveWhenBothControlValuesAreZero) {
  // trunc(255 t^3 + 0.5) with t = v / 256.
  const DibImage original = AllValuesImage();
  DibImage image = original;
  ASSERT_TRUE(image.Curve(10, 0, 0, 0));
  ExpectMapped(original, image, [](int v) {
    const double t = v / 256.0;
    return static_cast<int>(255.0 * t * t * t + 0.5);
  });
  image = PixelsImage({{128, 255, 0}});
  ASSERT_TRUE(image.Curve(10, 0, 0, 0));
  EXPECT_EQ(PixelAt(image, 0), (std::array<uint8_t, 3>{32, 252, 0}));
}

TEST_P(Curve, StraightLineWhenControlPointsAreOnTheDiagonal) {
  const DibImage original = AllValuesImage();
  DibImage image = original;
  ASSERT_TRUE(image.Curve(85, 85, 170, 170));
  ExpectMapped(original, image, [](int v) { return (255 * v + 128) / 256; });
  image = PixelsImage({{255, 128, 0}});
  ASSERT_TRUE(image.Curve(85, 85, 170, 170));
  EXPECT_EQ(PixelAt(image, 0), (std::array<uint8_t, 3>{254, 128, 0}));
}

TEST_P(Curve, SCurvePresetWithControlValuesOutsideTheByteRange) {
  DibImage image = PixelsImage({{32, 64, 128}, {192, 255, 0}});
  ASSERT_TRUE(image.Curve(195, -39, 60, 293));
  EXPECT_EQ(PixelAt(image, 0), (std::array<uint8_t, 3>{1, 29, 127}));
  EXPECT_EQ(PixelAt(image, 1), (std::array<uint8_t, 3>{226, 255, 0}));

  const DibImage original = AllValuesImage();
  image = original;
  ASSERT_TRUE(image.Curve(195, -39, 60, 293));
  ExpectMapped(original, image, [](int v) { return RefCurve(v, -39, 293); });
}

TEST_P(Curve, XValuesOnlyDecideTheNeutralTest) {
  const DibImage original = AllValuesImage();
  DibImage a = original;
  DibImage b = original;
  ASSERT_TRUE(a.Curve(1, 0, 255, 255));  // not neutral: x1 is off the corner
  ASSERT_TRUE(b.Curve(200, 0, 3, 255));
  EXPECT_NE(a.PackedDib(), original.PackedDib());
  EXPECT_EQ(a.PackedDib(), b.PackedDib());
  ExpectMapped(original, a, [](int v) { return RefCurve(v, 0, 255); });

  DibImage c = original;
  ASSERT_TRUE(c.Curve(0, 0, 0, 255));  // x2 = 0 with y2 = 255 is not neutral
  ExpectMapped(original, c, [](int v) { return RefCurve(v, 0, 255); });
}

// ---------------------------------------------------------------------------
// Rules shared by all five

TEST_P(ToneOperations, RefuseEmptyAndNonTwentyFourBitImages) {
  DibImage empty;
  EXPECT_FALSE(empty.Brightness(150));
  EXPECT_FALSE(empty.Contrast(150));
  EXPECT_FALSE(empty.Gamma(150));
  EXPECT_FALSE(empty.Highlight(150, 190));
  EXPECT_FALSE(empty.Curve(0, -39, 60, 293));
  EXPECT_TRUE(empty.IsEmpty());

  DibImage eight = EightBitImage();
  ASSERT_EQ(eight.BitCount(), 8);
  const std::vector<uint8_t> before = eight.PackedDib();
  EXPECT_FALSE(eight.Brightness(150));
  EXPECT_FALSE(eight.Contrast(150));
  EXPECT_FALSE(eight.Gamma(150));
  EXPECT_FALSE(eight.Highlight(150, 0));
  EXPECT_FALSE(eight.Curve(0, -39, 60, 293));
  EXPECT_EQ(eight.PackedDib(), before);
}

TEST_P(ToneOperations, NeutralValuesChangeNothing) {
  const DibImage original = NoiseImage();
  DibImage image = original;
  EXPECT_TRUE(image.Brightness(100));
  EXPECT_TRUE(image.Contrast(100));
  EXPECT_TRUE(image.Gamma(100));
  EXPECT_TRUE(image.Highlight(100, 0));
  EXPECT_TRUE(image.Curve(0, 0, 0, 0));
  EXPECT_EQ(image.PackedDib(), original.PackedDib());
}

TEST_P(ToneOperations, NegativeBrightnessFailsAndChangesNothing) {
  const DibImage original = NoiseImage();
  DibImage image = original;
  EXPECT_FALSE(image.Brightness(-1));
  EXPECT_FALSE(image.Brightness(INT_MIN));
  EXPECT_EQ(image.PackedDib(), original.PackedDib());
}

TEST_P(ToneOperations, ParametersOutsideTheTablesActAsTheNearestColumn) {
  const DibImage original = NoiseImage();
  auto run = [&](const std::function<bool(DibImage&)>& op) {
    DibImage image = original;
    EXPECT_TRUE(op(image));
    return image.PackedDib();
  };
  EXPECT_EQ(run([](DibImage& i) { return i.Brightness(250); }),
            run([](DibImage& i) { return i.Brightness(200); }));
  EXPECT_EQ(run([](DibImage& i) { return i.Brightness(INT_MAX); }),
            run([](DibImage& i) { return i.Brightness(200); }));
  EXPECT_EQ(run([](DibImage& i) { return i.Contrast(-7); }),
            run([](DibImage& i) { return i.Contrast(0); }));
  EXPECT_EQ(run([](DibImage& i) { return i.Contrast(INT_MIN); }),
            run([](DibImage& i) { return i.Contrast(0); }));
  EXPECT_EQ(run([](DibImage& i) { return i.Contrast(201); }),
            run([](DibImage& i) { return i.Contrast(200); }));
  EXPECT_EQ(run([](DibImage& i) { return i.Gamma(-1); }),
            run([](DibImage& i) { return i.Gamma(0); }));
  EXPECT_EQ(run([](DibImage& i) { return i.Gamma(5000); }),
            run([](DibImage& i) { return i.Gamma(200); }));
  EXPECT_EQ(run([](DibImage& i) { return i.Highlight(-3, 100); }),
            run([](DibImage& i) { return i.Highlight(0, 100); }));
  EXPECT_EQ(run([](DibImage& i) { return i.Highlight(INT_MAX, 100); }),
            run([](DibImage& i) { return i.Highlight(200, 100); }));
}


// ---------------------------------------------------------------------------
// Vector and portable loops agree on every row length, including the short
// tails that the vector loops finish with masked loads and stores.

TEST(ToneKernelsAgree, EveryOperationOnEveryRowLength) {
  if (!ToneVectorKernelsAvailable()) GTEST_SKIP() << "no vector loops here";
  const std::vector<std::function<bool(DibImage&)>> ops = {
      [](DibImage& i) { return i.Brightness(173); },
      [](DibImage& i) { return i.Contrast(31); },
      [](DibImage& i) { return i.Gamma(47); },
      [](DibImage& i) { return i.Curve(195, -39, 60, 293); },
      [](DibImage& i) { return i.Highlight(170, 100); },
      [](DibImage& i) { return i.Highlight(40, 128); },
      [](DibImage& i) { return i.Highlight(200, -1); },
  };
  const bool previous = SetToneVectorKernels(true);
  std::vector<int> widths;
  for (int width = 1; width <= 70; ++width) widths.push_back(width);
  for (int width : {127, 128, 129, 191, 250, 256}) widths.push_back(width);
  for (int width : widths) {
    for (int height : {1, 3}) {
      const DibImage original = NoiseImage(width, height);
      for (size_t op = 0; op < ops.size(); ++op) {
        DibImage vector = original;
        DibImage portable = original;
        SetToneVectorKernels(true);
        ASSERT_TRUE(ops[op](vector));
        SetToneVectorKernels(false);
        ASSERT_TRUE(ops[op](portable));
        ASSERT_EQ(vector.PackedDib(), portable.PackedDib())
            << "operation " << op << ", " << width << " x " << height;
      }
    }
  }
  SetToneVectorKernels(previous);
}

}  // namespace
}  // namespace inkbrite
