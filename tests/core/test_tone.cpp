// SPDX-License-Identifier: GPL-2.0-or-later
// Tone tables and the five tone operations of DibImage, against slow
// references written differently from the code (long double powers,
// floating-point rounding, exact integer Bernstein sums) and hand-worked
// values.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "core/dib_image.h"
#include "core/tone.h"
#include "tests/test_support.h"

namespace inkbrite {
namespace {

int RefBrightness(int v, int p) {
  return std::min(255, static_cast<int>(std::floor(v * (p / 100.0) + 1e-9)));
}

int RefContrast(int v, int p) {
  const double scaled = std::trunc((v - 128) * static_cast<double>(p) / 100.0);
  return std::clamp(static_cast<int>(scaled) + 128, 0, 255);
}

int RefGamma(int v, int p) {
  if (p == 0) return 255;  // 0^0 counts as 1: black turns white as well
  const long double x = 255.0L * std::pow(static_cast<long double>(v) / 255.0L, p / 100.0L);
  return std::min(255, static_cast<int>(std::floor(x + 0.5L)));
}

// Bezier over 0, y1, y2, 255 at t = i / 256 in exact integers:
// value * 256^3 = 3 (256-i)^2 i y1 + 3 (256-i) i^2 y2 + 255 i^3.
int RefCurve(int i, int64_t y1, int64_t y2) {
  const int64_t s = 256 - i, scale = int64_t{1} << 24;
  const int64_t halfUp =
      3 * s * s * i * y1 + 3 * s * i * i * y2 + 255 * int64_t{i} * i * i + scale / 2;
  if (halfUp < scale) return 0;
  return static_cast<int>(std::min<int64_t>(halfUp / scale, 255));
}

// The padding byte of every image made here: the steps must leave it alone.
constexpr uint8_t kPad = 0xA5;

// 5 pixels a row (one byte of padding): every byte value in every channel.
DibImage AllValuesImage() {
  return test::MakeBytes(
      5, 52,
      [](int x, int y, int c) {
        return static_cast<uint8_t>((y * 5 + x) * (c == 0 ? 1 : c == 1 ? 3 : 7) + c * 40);
      },
      kPad);
}

DibImage NoiseImage(int width, int height) {
  return test::MakeBytes(
      width, height,
      [](int x, int y, int c) {
        uint32_t h = uint32_t(x) * 73856093u ^ uint32_t(y) * 19349663u ^ uint32_t(c) * 83492791u;
        h ^= h >> 13;
        h *= 0x5bd1e995u;
        return static_cast<uint8_t>(h ^ (h >> 15));
      },
      kPad);
}

// Every pixel byte of `after` is map(byte of `before`); padding untouched.
void ExpectMapped(const DibImage& before, const DibImage& after,
                  const std::function<int(int)>& map) {
  for (int y = 0; y < before.Height(); ++y) {
    for (int i = 0; i < before.RowBytes(); ++i) {
      const int in = before.Row(y)[i];
      ASSERT_EQ(after.Row(y)[i], i < before.Width() * 3 ? map(in) : kPad)
          << "row " << y << " byte " << i << " input " << in;
    }
  }
}

// One operation with its parameters: B(rightness), C(ontrast), G(amma),
// H(ighlight) gain threshold, or K (curve) x1 y1 x2 y2.
struct Op {
  char kind;
  int a, b = 0, c = 0, d = 0;
};

bool Apply(DibImage& image, const Op& op) {
  switch (op.kind) {
    case 'B': return image.Brightness(op.a);
    case 'C': return image.Contrast(op.a);
    case 'G': return image.Gamma(op.a);
    case 'H': return image.Highlight(op.a, op.b);
    default: return image.Curve(op.a, op.b, op.c, op.d);
  }
}

TEST(ToneTables, EveryEntryMatchesItsReference) {
  for (int v = 0; v < 256; ++v) {
    for (int p = 0; p <= 200; ++p) {
      const size_t at = static_cast<size_t>(v * 201 + p);
      ASSERT_EQ(GammaTable()[at], RefGamma(v, p)) << "gamma v=" << v << " p=" << p;
      ASSERT_EQ(BrightnessTable()[at], RefBrightness(v, p)) << "brightness v=" << v << " p=" << p;
      ASSERT_EQ(ContrastTable()[at], RefContrast(v, p)) << "contrast v=" << v << " p=" << p;
    }
  }
}

// The gamma step computes only the column it uses: every column gives the
// bytes of the whole table.
TEST(ToneTables, GammaStepsGiveTheTableColumns) {
  const DibImage original = AllValuesImage();
  for (int p = 0; p <= 200; ++p) {
    DibImage image = original;
    ASSERT_TRUE(image.Gamma(p));
    ExpectMapped(original, image, [p](int v) { return GammaTable()[ToneIndex(v, p)]; });
  }
}

TEST(ToneTables, CurveTableMatchesExactBezierSums) {
  const int controls[][2] = {{0, 0},     {85, 170},          {0, 255},          {255, 0},
                             {-39, 293}, {300, -300},        {128, 128},        {-1000, 1000},
                             {17, 240},  {INT_MAX, INT_MAX}, {INT_MIN, INT_MIN}};
  for (const auto& [y1, y2] : controls) {
    const std::array<uint8_t, 256> table = BuildCurveTable(y1, y2);
    for (int i = 0; i < 256; ++i) {
      ASSERT_EQ(table[size_t(i)], RefCurve(i, y1, y2)) << "y1=" << y1 << " y2=" << y2 << " i=" << i;
    }
  }
}

// Every operation test runs with the portable loops and with the vector loops
// (skipped where the processor has none).
class ToneOperations : public testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    if (GetParam() && !ToneVectorKernelsAvailable()) GTEST_SKIP() << "no vector loops here";
    m_previous = SetToneVectorKernels(GetParam());
  }
  void TearDown() override { SetToneVectorKernels(m_previous); }

 private:
  bool m_previous = true;
};
INSTANTIATE_TEST_SUITE_P(Kernels, ToneOperations, testing::Bool(),
                         [](const auto& p) { return p.param ? "Vector" : "Portable"; });

TEST_P(ToneOperations, HandWorkedValues) {
  struct Case {
    Op op;
    std::vector<uint8_t> in, out;  // whole pixels, one row
  };
  const Case cases[] = {
      {{'B', 0}, {0, 1, 127, 128, 254, 255}, {0, 0, 0, 0, 0, 0}},
      {{'B', 200}, {100, 200, 255, 0, 127, 128}, {200, 255, 255, 0, 254, 255}},
      {{'C', 0}, {0, 1, 127, 129, 200, 255}, {128, 128, 128, 128, 128, 128}},
      {{'C', 200}, {0, 127, 129, 255, 128, 1}, {0, 126, 130, 255, 128, 0}},
      // 127 gives -0.5, which truncates to 0 rather than rounding to -1.
      {{'C', 50}, {127, 0, 255, 129, 126, 128}, {128, 64, 191, 128, 127, 128}},
      {{'G', 0}, {0, 1, 127, 128, 254, 255}, {255, 255, 255, 255, 255, 255}},
      {{'G', 200}, {128, 0, 255}, {64, 0, 255}},  // 255 * (128 / 255)^2 = 64.25
      {{'H', 150, 190},
       {200, 200, 200, 190, 190, 190, 100, 150, 250},
       {255, 255, 255, 190, 190, 190, 100, 150, 250}},
      // The sum decides: 255 + 255 + 60 = 3 * 190 stays, one more passes.
      {{'H', 120, 190},
       {255, 255, 60, 255, 255, 61, 61, 255, 255},
       {255, 255, 60, 255, 255, 73, 73, 255, 255}},
      // The pixel is tested before any of its bytes changes.
      {{'H', 50, 190}, {200, 190, 190, 190, 200, 190}, {100, 95, 95, 95, 100, 95}},
      {{'K', 0, 0, 0, 0}, {0, 1, 64, 128, 254, 255}, {0, 1, 64, 128, 254, 255}},
      {{'K', 0, 0, 255, 255}, {0, 1, 64, 128, 254, 255}, {0, 1, 64, 128, 254, 255}},
      {{'K', 10, 0, 0, 0}, {128, 255, 0}, {32, 252, 0}},
      {{'K', 85, 85, 170, 170}, {255, 128, 0}, {254, 128, 0}},
      {{'K', 195, -39, 60, 293}, {32, 64, 128, 192, 255, 0}, {1, 29, 127, 226, 255, 0}},
  };
  for (const Case& c : cases) {
    const Op& op = c.op;
    DibImage image = test::MakeBytes(
        int(c.in.size() / 3), 1, [&](int x, int, int ch) { return c.in[size_t(x * 3 + ch)]; },
        kPad);
    ASSERT_TRUE(Apply(image, op));
    EXPECT_EQ(std::vector<uint8_t>(image.Row(0), image.Row(0) + c.in.size()), c.out)
        << op.kind << " " << op.a << " " << op.b << " " << op.c << " " << op.d;
  }
}

// Parameters outside 0 to 200 act as the nearest column, except that a
// negative brightness fails and changes nothing.
TEST_P(ToneOperations, WholeImagesFollowTheReferences) {
  const DibImage original = AllValuesImage();
  for (int p : {0, 1, 37, 50, 99, 100, 101, 150, 199, 200, 201, 5000, INT_MAX, -1, -7, INT_MIN}) {
    SCOPED_TRACE(p);
    const int col = std::clamp(p, 0, 200);
    DibImage image = original;
    EXPECT_EQ(image.Brightness(p), p >= 0);
    ExpectMapped(original, image, [&](int v) { return p < 0 ? v : RefBrightness(v, col); });
    image = original;
    ASSERT_TRUE(image.Contrast(p));
    ExpectMapped(original, image, [&](int v) { return RefContrast(v, col); });
    image = original;
    ASSERT_TRUE(image.Gamma(p));
    ExpectMapped(original, image, [&](int v) { return RefGamma(v, col); });
  }
  // Only (0,0)-(0,0) and (0,0)-(255,255) are the untouched editor states;
  // otherwise x1 and x2 play no part.
  struct {
    int x1, y1, x2, y2;
    bool neutral;
  } const curves[] = {{0, 0, 0, 0, true},        {0, 0, 255, 255, true},    {1, 0, 255, 255, false},
                      {200, 0, 3, 255, false},   {0, 0, 0, 255, false},     {10, 0, 0, 0, false},
                      {85, 85, 170, 170, false}, {195, -39, 60, 293, false}};
  for (const auto& k : curves) {
    SCOPED_TRACE(testing::Message()
                 << "curve " << k.x1 << "," << k.y1 << "," << k.x2 << "," << k.y2);
    DibImage image = original;
    ASSERT_TRUE(image.Curve(k.x1, k.y1, k.x2, k.y2));
    ExpectMapped(original, image, [&](int v) { return k.neutral ? v : RefCurve(v, k.y1, k.y2); });
  }
}

TEST_P(ToneOperations, HighlightFollowsThePerPixelRule) {
  const DibImage original = NoiseImage(70, 13);  // 210 bytes a row: vector groups and a tail
  for (int gain : {INT_MIN, 0, 60, 150, 200, INT_MAX}) {
    for (int threshold : {INT_MIN, -1, 0, 100, 170, 190, 255, INT_MAX}) {
      SCOPED_TRACE(testing::Message() << "gain " << gain << " threshold " << threshold);
      DibImage image = original;
      ASSERT_TRUE(image.Highlight(gain, threshold));
      for (int y = 0; y < image.Height(); ++y) {
        for (int i = 0; i < image.RowBytes(); ++i) {
          int expected = kPad;
          if (i < image.Width() * 3) {
            const uint8_t* p = original.Row(y) + i / 3 * 3;
            const bool light = p[0] + p[1] + p[2] > int64_t{3} * threshold;
            expected = light ? RefBrightness(original.Row(y)[i], std::clamp(gain, 0, 200))
                             : original.Row(y)[i];
          }
          ASSERT_EQ(image.Row(y)[i], expected) << "row " << y << " byte " << i;
        }
      }
    }
  }
}

TEST_P(ToneOperations, RefuseEmptyAndNonTwentyFourBitImages) {
  std::vector<RgbQuad> greys;
  for (int i = 0; i < 256; ++i) greys.push_back(RgbQuad{uint8_t(i), uint8_t(i), uint8_t(i), 0});
  DibImage eight;
  ASSERT_TRUE(
      eight.Attach(test::MakeDib(4, 3, 8, greys, {{1, 2, 3, 4}, {50, 60, 70, 80}, {9, 8, 7, 6}})));
  ASSERT_EQ(eight.BitCount(), 8);
  const std::vector<uint8_t> before = eight.PackedDib();
  for (const Op& op :
       {Op{'B', 150}, Op{'C', 150}, Op{'G', 150}, Op{'H', 150, 0}, Op{'K', 0, -39, 60, 293}}) {
    DibImage empty;
    EXPECT_FALSE(Apply(empty, op)) << op.kind;
    EXPECT_TRUE(empty.IsEmpty());
    EXPECT_FALSE(Apply(eight, op)) << op.kind;
    EXPECT_EQ(eight.PackedDib(), before);
  }
}

// The five steps one after the other by the slow references: curve,
// brightness, highlight, contrast, gamma on the pixel (b, g, r) in place.
void RefToneChain(const ToneSettings& s, uint8_t* pixel) {
  const bool curve =
      !(s.curveX1 == 0 && s.curveY1 == 0 &&
        ((s.curveX2 == 0 && s.curveY2 == 0) || (s.curveX2 == 255 && s.curveY2 == 255)));
  int v[3];
  for (int c = 0; c < 3; ++c) {
    v[c] = pixel[c];
    if (curve) v[c] = RefCurve(v[c], s.curveY1, s.curveY2);
    if (s.brightness >= 0) v[c] = RefBrightness(v[c], std::clamp(s.brightness, 0, 200));
  }
  if (int64_t{v[0]} + v[1] + v[2] > int64_t{3} * s.highlightThreshold) {
    for (int& x : v) x = RefBrightness(x, std::clamp(s.highlightGain, 0, 200));
  }
  for (int c = 0; c < 3; ++c) {
    v[c] = RefContrast(v[c], std::clamp(s.contrast, 0, 200));
    v[c] = RefGamma(v[c], std::clamp(s.gamma, 0, 200));
    pixel[c] = static_cast<uint8_t>(v[c]);
  }
}

// Settings as a user, a settings file or a careless caller may give them:
// each step neutral about half the time, otherwise anywhere in its range,
// sometimes far outside it.
ToneSettings RandomSettings(std::mt19937& rng) {
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  auto percent = [&] {
    const int roll = pick(0, 9);
    return roll < 5 ? 100 : roll < 9 ? pick(0, 200) : pick(-300, 600);
  };
  ToneSettings s;
  if (pick(0, 1) == 1) {
    s.curveX1 = pick(0, 255);
    s.curveY1 = pick(-80, 330);
    s.curveX2 = pick(0, 255);
    s.curveY2 = pick(-80, 330);
  }
  s.brightness = percent();
  s.highlightGain = percent();
  // Mostly the slider's range; sometimes an edge of the sum's range or beyond.
  const int edges[] = {-100, -1, 0, 1, 254, 255, 256, 400};
  s.highlightThreshold = pick(0, 4) == 0 ? edges[pick(0, 7)] : pick(100, 255);
  s.contrast = percent();
  s.gamma = percent();
  return s;
}

std::string Describe(const ToneSettings& s) {
  return testing::PrintToString(std::vector<int>{s.curveX1, s.curveY1, s.curveX2, s.curveY2,
                                                 s.brightness, s.highlightGain,
                                                 s.highlightThreshold, s.contrast, s.gamma});
}

// The one-pass tone gives the bytes of the five operations run one after the
// other, and of the slow references, on random pages (dark, light and mixed,
// every row length) with random parameters.
TEST_P(ToneOperations, OnePassMatchesTheFiveStepsOnRandomPages) {
  std::mt19937 rng(20240611);
  for (int round = 0; round < 400; ++round) {
    const ToneSettings s = RandomSettings(rng);
    const int width = std::uniform_int_distribution<int>(1, 150)(rng);
    const int height = std::uniform_int_distribution<int>(1, 4)(rng);
    const int low = std::uniform_int_distribution<int>(0, 200)(rng);
    std::uniform_int_distribution<int> byte(low, 255);
    const DibImage original = test::MakeBytes(
        width, height, [&](int, int, int) { return static_cast<uint8_t>(byte(rng)); }, kPad);
    SCOPED_TRACE(testing::Message() << "round " << round << " settings " << Describe(s) << " "
                                    << width << " x " << height);

    DibImage fused = original;
    ASSERT_TRUE(TonePass(s).Apply(fused));
    DibImage steps = original;
    steps.Curve(s.curveX1, s.curveY1, s.curveX2, s.curveY2);
    steps.Brightness(s.brightness);
    steps.Highlight(s.highlightGain, s.highlightThreshold);
    steps.Contrast(s.contrast);
    steps.Gamma(s.gamma);
    ASSERT_EQ(fused.PackedDib(), steps.PackedDib());

    DibImage reference = original;
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) RefToneChain(s, reference.Row(y) + 3 * x);
    }
    ASSERT_EQ(fused.PackedDib(), reference.PackedDib());
    if (TonePass(s).IsIdentity()) {
      EXPECT_EQ(fused.PackedDib(), original.PackedDib());
    }
  }
}

// The pass over grey levels gives, for every level, what the pass gives the
// pixel of three such bytes, and its identity is that of those 256 pixels.
TEST_P(ToneOperations, GreyLevelsGiveTheBytesOfGreyPixels) {
  std::mt19937 rng(20261209);
  for (int round = 0; round < 600; ++round) {
    const ToneSettings s = RandomSettings(rng);
    const TonePass pass(s);
    std::vector<uint8_t> pixels(256 * 3);
    std::vector<uint8_t> levels(256);
    for (size_t v = 0; v < 256; ++v) {
      levels[v] = static_cast<uint8_t>(v);
      std::memset(&pixels[3 * v], static_cast<int>(v), 3);
    }
    pass.MapPixels(pixels.data(), 256);
    pass.MapGrey(levels.data(), 256);
    bool same = true;
    for (size_t v = 0; v < 256; ++v) {
      ASSERT_EQ(pixels[3 * v], pixels[3 * v + 1]);
      ASSERT_EQ(pixels[3 * v], pixels[3 * v + 2]);
      ASSERT_EQ(levels[v], pixels[3 * v]) << "level " << v << " settings " << Describe(s);
      same = same && levels[v] == v;
    }
    EXPECT_EQ(pass.IsGreyIdentity(), same) << Describe(s);
  }
}

// A pass over pixels in pieces (the rows of a band, a part of a row) gives
// what the pass over the whole page gives.
TEST_P(ToneOperations, OnePassOverPiecesEqualsThePassOverThePage) {
  ToneSettings s;
  s.curveY1 = -39;
  s.curveY2 = 293;
  s.curveX1 = 195;
  s.brightness = 110;
  s.highlightGain = 150;
  s.contrast = 120;
  s.gamma = 90;
  const DibImage original = NoiseImage(333, 7);
  DibImage whole = original;
  const TonePass pass(s);
  ASSERT_TRUE(pass.Apply(whole));
  DibImage pieces = original;
  for (int y = 0; y < pieces.Height(); ++y) {
    size_t done = 0;
    for (size_t piece : {1, 64, 65, 100, 103}) {  // 333 pixels
      pass.MapPixels(pieces.Row(y) + 3 * done, piece);
      done += piece;
    }
  }
  EXPECT_EQ(pieces.PackedDib(), whole.PackedDib());
  DibImage empty;
  EXPECT_FALSE(pass.Apply(empty));
}

// Vector and portable loops agree on every row length, including the short
// tails that the vector loops finish with masked loads and stores.
TEST(ToneKernelsAgree, EveryOperationOnEveryRowLength) {
  if (!ToneVectorKernelsAvailable()) GTEST_SKIP() << "no vector loops here";
  const Op ops[] = {{'B', 173},      {'C', 31},      {'G', 47},     {'K', 195, -39, 60, 293},
                    {'H', 170, 100}, {'H', 40, 128}, {'H', 200, -1}};
  const bool previous = SetToneVectorKernels(true);
  std::vector<int> widths = {127, 128, 129, 191, 250, 256};
  for (int width = 1; width <= 70; ++width) widths.push_back(width);
  for (int width : widths) {
    for (int height : {1, 3}) {
      const DibImage original = NoiseImage(width, height);
      for (const Op& op : ops) {
        DibImage vector = original, portable = original;
        SetToneVectorKernels(true);
        ASSERT_TRUE(Apply(vector, op));
        SetToneVectorKernels(false);
        ASSERT_TRUE(Apply(portable, op));
        ASSERT_EQ(vector.PackedDib(), portable.PackedDib())
            << op.kind << " " << op.a << ", " << width << " x " << height;
      }
      // The one pass with every step on, with and without the curve.
      for (int y1 : {0, -39}) {
        ToneSettings all;
        all.curveY1 = y1;
        all.curveY2 = 293;
        all.brightness = 90;
        all.highlightGain = 170;
        all.highlightThreshold = 120;
        all.contrast = 130;
        all.gamma = 80;
        DibImage vector = original, portable = original;
        SetToneVectorKernels(true);
        ASSERT_TRUE(TonePass(all).Apply(vector));
        SetToneVectorKernels(false);
        ASSERT_TRUE(TonePass(all).Apply(portable));
        ASSERT_EQ(vector.PackedDib(), portable.PackedDib())
            << "one pass, " << width << " x " << height;
      }
    }
  }
  SetToneVectorKernels(previous);
}

// Each byte lookup loop the processor has (AVX-512 VBMI, AVX2) gives the
// portable loop's bytes for random tables, every byte value and every run
// length around the vector widths, through MapPixelBytes, a pass and the
// grey pass.
TEST(ToneKernelsAgree, EveryLookupLoopOnEveryRunLength) {
  std::mt19937 rng(32);
  std::vector<uint8_t> bytes(700);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 151 + 7);
  for (ToneLoops loops : {ToneLoops::kAvx512, ToneLoops::kAvx2}) {
    if (FastestToneLoops() < loops) continue;
    const ToneLoops previous = LimitToneLoops(loops);
    for (int round = 0; round < 40; ++round) {
      std::array<uint8_t, 256> lut;
      for (uint8_t& e : lut) e = static_cast<uint8_t>(rng());
      const ToneSettings s = RandomSettings(rng);
      for (size_t length : {1, 15, 16, 31, 32, 33, 63, 64, 65, 96, 100, 128, 255, 256, 257, 700}) {
        SCOPED_TRACE(testing::Message() << "loops " << static_cast<int>(loops) << " round " << round
                                        << " length " << length);
        std::vector<uint8_t> fast(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(length));
        std::vector<uint8_t> plain = fast;
        const TonePass pass(s);
        pass.MapGrey(fast.data(), length);
        LimitToneLoops(ToneLoops::kPortable);
        pass.MapGrey(plain.data(), length);
        LimitToneLoops(loops);
        ASSERT_EQ(fast, plain) << Describe(s);
        const int width = static_cast<int>(length);
        const DibImage original = NoiseImage(width, 2);
        DibImage a = original, b = original, c = original, d = original;
        ASSERT_TRUE(MapPixelBytes(a, lut));
        ASSERT_TRUE(pass.Apply(c));
        LimitToneLoops(ToneLoops::kPortable);
        ASSERT_TRUE(MapPixelBytes(b, lut));
        ASSERT_TRUE(pass.Apply(d));
        LimitToneLoops(loops);
        ASSERT_EQ(a.PackedDib(), b.PackedDib());
        ASSERT_EQ(c.PackedDib(), d.PackedDib()) << Describe(s);
      }
    }
    LimitToneLoops(previous);
  }
}

}  // namespace
}  // namespace inkbrite
