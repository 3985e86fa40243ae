// SPDX-License-Identifier: GPL-2.0-or-later
// The restoration steps on generated pages whose answer is known: specks
// drawn on line art, a dot screen laid over it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <functional>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "core/auto_steps.h"
#include "core/descreen.h"
#include "core/despeckle.h"
#include "core/enhance.h"
#include "core/jpeg_cleanup.h"
#include "core/para_slots.h"
#include "tests/core/scan_pages.h"
#include "tests/test_support.h"

namespace inkbrite {
namespace {

using test::Bgr;

constexpr Bgr kPaper{250, 250, 250};
constexpr Bgr kInk{15, 15, 15};

bool Dark(const DibImage& page, int32_t x, int32_t y) { return test::PixelAt(page, x, y).b < 128; }

// Line art: frames, crossing strokes, rings with small counters (a letter's
// hole that must stay) and a black fill.
DibImage LineArt(int32_t w, int32_t h) {
  DibImage page = test::MakeFilled(w, h, kPaper);
  for (int32_t i = 0; i < 3; ++i) {
    test::FillRect(page, {20 + i * 150, 20, 23 + i * 150, h - 20}, kInk);
    test::FillRect(page, {20, 40 + i * 170, w - 20, 42 + i * 170}, kInk);
  }
  for (int32_t k = 0; k < 6; ++k) {  // rings, 2 pixels of ink around a 4 x 4 hole
    const int32_t x = 60 + 40 * k, y = 120;
    test::FillRect(page, {x, y, x + 8, y + 8}, kInk);
    test::FillRect(page, {x + 2, y + 2, x + 6, y + 6}, kPaper);
  }
  test::FillRect(page, {330, 250, 460, 380}, kInk);  // a black fill
  return page;
}

// Whether the box around (x, y) of `size` (and `gap` beyond) is all of one
// side on `page`.
bool AllOf(const DibImage& page, int32_t x, int32_t y, int32_t size, int32_t gap, bool dark) {
  for (int32_t v = y - gap; v < y + size + gap; ++v) {
    for (int32_t u = x - gap; u < x + size + gap; ++u) {
      if (u < 0 || v < 0 || u >= page.Width() || v >= page.Height() || Dark(page, u, v) != dark) {
        return false;
      }
    }
  }
  return true;
}

struct Speck {
  int32_t x, y, size;
  bool dark;
};

// Specks of 1 to `largest` pixels (squares with a corner cut above 2) where
// the art is of the other side, never closer than 3 pixels to anything.
std::vector<Speck> AddSpecks(DibImage& page, int count, bool dark, int largest, uint32_t seed) {
  std::mt19937 rng(seed);
  const DibImage art = page;
  std::vector<Speck> specks;
  DibImage taken = test::MakeFilled(page.Width(), page.Height(), kPaper);
  for (int tries = 0; static_cast<int>(specks.size()) < count && tries < 100000; ++tries) {
    const Speck s{test::Uniform(rng, 3, page.Width() - 10),
                  test::Uniform(rng, 3, page.Height() - 10), test::Uniform(rng, 1, largest), dark};
    if (!AllOf(art, s.x, s.y, s.size, 3 + (dark ? 0 : 6), !dark) ||
        !AllOf(taken, s.x, s.y, s.size, 3, false)) {
      continue;
    }
    test::FillRect(taken, {s.x, s.y, s.x + s.size, s.y + s.size}, kInk);
    test::FillRect(page, {s.x, s.y, s.x + s.size, s.y + s.size}, dark ? Bgr{40, 45, 50} : kPaper);
    if (s.size > 2) test::SetPixel(page, s.x, s.y, dark ? kPaper : kInk);
    specks.push_back(s);
  }
  return specks;
}

// A speck is gone when its box is all of the ground's side again.
double RemovedShare(const DibImage& page, const std::vector<Speck>& specks) {
  int removed = 0;
  for (const Speck& s : specks) removed += AllOf(page, s.x, s.y, s.size, 0, !s.dark) ? 1 : 0;
  return specks.empty() ? 1 : static_cast<double>(removed) / specks.size();
}

// Share of the art's dark pixels no longer dark, and of its light ones now dark.
double LostShare(const DibImage& art, const DibImage& page, bool dark) {
  int64_t of = 0, lost = 0;
  for (int32_t y = 0; y < art.Height(); ++y) {
    for (int32_t x = 0; x < art.Width(); ++x) {
      if (Dark(art, x, y) != dark) continue;
      ++of;
      lost += Dark(page, x, y) != dark ? 1 : 0;
    }
  }
  return static_cast<double>(lost) / static_cast<double>(of);
}

TEST(Despeckle, RemovesSpecksOnLightAndDarkGroundAndKeepsTheArt) {
  const DibImage art = LineArt(900, 800);
  struct Case {
    int count;
    bool dark;
    int largest;  // of the specks drawn and of the setting
  };
  for (const Case c : {Case{500, true, 6}, Case{40, false, 4}, Case{300, true, 2}}) {
    SCOPED_TRACE(testing::Message() << c.count << (c.dark ? " dark" : " light") << " specks");
    DibImage page = art;
    const std::vector<Speck> specks = AddSpecks(page, c.count, c.dark, c.largest, 7);
    ASSERT_GE(static_cast<int>(specks.size()), c.count * 9 / 10);
    const SpecksFound found = Despeckle(page, c.largest);
    EXPECT_GE(RemovedShare(page, specks), 0.95);
    EXPECT_LT(LostShare(art, page, true), 0.005);   // line pixels kept
    EXPECT_LT(LostShare(art, page, false), 0.005);  // and the counters of the rings
    EXPECT_GE(c.dark ? found.dark : found.light, static_cast<int32_t>(specks.size()) * 95 / 100);
  }
}

TEST(Despeckle, LeavesScreensAndLargerDotsAndDoesNothingAtZero) {
  DibImage page = LineArt(300, 200);
  // A light tone of 2 x 2 dots 5 pixels apart, and a lone 5 x 5 blot.
  for (int32_t y = 60; y < 110; y += 5) {
    for (int32_t x = 200; x < 280; x += 5) test::FillRect(page, {x, y, x + 2, y + 2}, kInk);
  }
  test::FillRect(page, {100, 160, 105, 165}, kInk);
  const DibImage before = page;
  Despeckle(page, 0);
  EXPECT_EQ(page.PackedDib(), before.PackedDib());
  Despeckle(page, 4);
  EXPECT_EQ(page.PackedDib(), before.PackedDib());

  // Through the pipeline: the slot at 0 reads no pixel, at 4 it runs.
  CParaBlock params;
  DibImage second;
  PageFindings findings[2];
  PrepareSourcePages(params, page, second, findings);
  EXPECT_FALSE(findings[0].despeckleRan);
  params.SetValue(kDespeckle, 4);
  test::SetPixel(page, 140, 150, kInk);
  PrepareSourcePages(params, page, second, findings);
  EXPECT_TRUE(findings[0].despeckleRan);
  EXPECT_EQ(findings[0].specks.dark, 1);
  EXPECT_EQ(page.PackedDib(), before.PackedDib());
}

// ---- descreen ----

constexpr double kScreenPeriod = 6;

// Line art over a 45 degree dot screen of grey `tone` (0: white, 1: black)
// inside `area`, each pixel the share of its 4 x 4 sample points inked (as
// a scanner's sensor averages); with a `flat` level from 0 to 255 the area
// is that flat grey instead.
Bgr ScreenPixel(int32_t x, int32_t y, double tone) {
  const double k = 2 * 3.14159265358979 / (kScreenPeriod * std::sqrt(2.0));
  int inked = 0;
  for (int j = 0; j < 4; ++j) {
    for (int i = 0; i < 4; ++i) {
      const double u = x + (i + 0.5) / 4, v = y + (j + 0.5) / 4;
      inked += 0.5 + 0.25 * (std::cos(k * (u + v)) + std::cos(k * (u - v))) > 1 - tone ? 1 : 0;
    }
  }
  const auto level =
      static_cast<uint8_t>(std::lround(kPaper.g - inked * (kPaper.g - kInk.g) / 16.0));
  return Bgr{level, level, level};
}

DibImage ScreenedArt(int32_t w, int32_t h, const DibRect& area, double tone, int flat = -1) {
  DibImage page = test::MakeImage(w, h, [&](int32_t x, int32_t y) {
    if (x < area.left || x >= area.right || y < area.top || y >= area.bottom) return kPaper;
    if (flat >= 0) return Bgr{uint8_t(flat), uint8_t(flat), uint8_t(flat)};
    return ScreenPixel(x, y, tone);
  });
  for (int32_t x = 40; x < w - 40; x += 90) test::FillRect(page, {x, 10, x + 3, h - 10}, kInk);
  test::FillRect(page, {10, h / 2, w - 10, h / 2 + 3}, kInk);
  return page;
}

double MeanLevel(const DibImage& page, const DibRect& area) {
  double sum = 0;
  for (int32_t y = area.top; y < area.bottom; ++y) {
    for (int32_t x = area.left; x < area.right; ++x) sum += test::PixelAt(page, x, y).g;
  }
  return sum / (static_cast<double>(area.Width()) * area.Height());
}

// The energy of the page's lightness inside `area` at the frequency
// (fx, fy), cycles a pixel, by a direct sum (not the step's transform).
double EnergyAt(const DibImage& page, const DibRect& area, double fx, double fy) {
  std::complex<double> sum = 0;
  double mean = 0;
  for (int32_t y = area.top; y < area.bottom; ++y) {
    for (int32_t x = area.left; x < area.right; ++x) mean += test::PixelAt(page, x, y).g;
  }
  mean /= static_cast<double>(area.Width()) * area.Height();
  for (int32_t y = area.top; y < area.bottom; ++y) {
    for (int32_t x = area.left; x < area.right; ++x) {
      const double phase = -2 * 3.14159265358979 * (fx * x + fy * y);
      sum += (test::PixelAt(page, x, y).g - mean) * std::polar(1.0, phase);
    }
  }
  return std::norm(sum);
}

// The 10 % to 90 % width of the edge from the ground at (x0, y) to the line
// at (x1, y), pixels: the crossings nearest the line, walking back from it.
double EdgeWidth(const DibImage& page, int32_t y, int32_t x0, int32_t x1) {
  const double a = test::PixelAt(page, x0, y).g, b = test::PixelAt(page, x1, y).g;
  const auto crossing = [&](double share, int32_t from) {
    const double level = a + share * (b - a);
    for (int32_t x = from; x > x0; --x) {
      const double p = test::PixelAt(page, x - 1, y).g, q = test::PixelAt(page, x, y).g;
      if ((p - level) * (q - level) <= 0 && p != q) return x - 1 + (level - p) / (q - p);
    }
    return static_cast<double>(x0);
  };
  const double inner = crossing(0.9, x1);
  return inner - crossing(0.1, static_cast<int32_t>(std::ceil(inner)));
}

TEST(Descreen, FindsTheScreenAndRemovesItKeepingTheEdges) {
  const DibRect area{20, 20, 380, 280};
  DibImage page = ScreenedArt(400, 300, area, 0.4);
  const DibRect clear{140, 60, 210, 140};  // between the lines
  const int tone = static_cast<int>(std::lround(MeanLevel(page, clear)));
  const DibImage flat = ScreenedArt(400, 300, area, 0.4, tone);
  const ScreenFound seen = FindScreen(page, 0);
  ASSERT_TRUE(seen.found);
  EXPECT_NEAR(seen.period, kScreenPeriod, 0.3);
  EXPECT_NEAR(seen.angle, 45, 3);

  DibImage descreened = page;
  const ScreenFound removed = Descreen(descreened, 100, 0);
  EXPECT_TRUE(removed.found);
  EXPECT_GT(removed.harmonics, 4);
  // Shrunk to half, as a screen shows it: the screen's frequency there is
  // twice as many cycles a pixel.
  DibImage halfScreened = page, halfDescreened = descreened, halfFlat = flat;
  for (DibImage* p : {&halfScreened, &halfDescreened, &halfFlat})
    ASSERT_TRUE(p->ResizePercent(50, 0));
  const DibRect half{15, 15, 185, 70};  // inside the screen, clear of the lines
  const double f = 2 / (kScreenPeriod * std::sqrt(2.0));
  const double drop =
      10 * std::log10(EnergyAt(halfScreened, half, f, f) / EnergyAt(halfDescreened, half, f, f));
  EXPECT_GE(drop, 20) << "dB";
  // The lines' edges, on the screen and on the paper, as sharp as on the
  // page without the screen.
  for (const auto& [y, x0, x1] : {std::tuple{50, 102, 110}, std::tuple{143, 102, 110}}) {
    EXPECT_NEAR(EdgeWidth(halfDescreened, y, x0, x1), EdgeWidth(halfFlat, y, x0, x1), 1.0)
        << "row " << y;
  }
  // The lines keep their own pixels, on the screen too.
  for (int32_t y = 30; y < 270; y += 7) {
    for (int32_t x = 220; x < 223; ++x) EXPECT_LE(test::PixelAt(descreened, x, y).g, kInk.g + 10);
  }
  // The tone stays the tone the screen printed, now nearly flat.
  EXPECT_NEAR(MeanLevel(descreened, clear), tone, 2);
  double spread = 0;
  for (int32_t y = clear.top; y < clear.bottom; ++y) {
    for (int32_t x = clear.left; x < clear.right; ++x) {
      spread = std::max(spread, std::abs(test::PixelAt(descreened, x, y).g - tone + 0.0));
    }
  }
  EXPECT_LT(spread, 40);
}

// A coarse screen over a tone that darkens across a page larger than the
// parts it is filtered in: no step where one part meets the next (each
// reads the page as it was, not its neighbour's result), across or down.
TEST(Descreen, ShowsNoSeamsBetweenTheParts) {
  constexpr int32_t kW = 1100, kH = 600;
  DibImage page = test::MakeImage(
      kW, kH, [](int32_t x, int32_t y) { return ScreenPixel(x, y, 0.2 + 0.5 * x / kW); });
  ASSERT_TRUE(Descreen(page, 100, 0).found);
  const auto step = [&page](int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
    return std::abs(test::PixelAt(page, x1, y1).g - test::PixelAt(page, x0, y0).g);
  };
  int across = 0, down = 0, tone = 0;
  for (int32_t k = 60; k < kH - 60; k += 5) {
    across = std::max(across, step(511, k, 512, k));
    down = std::max(down, step(k - 40, 255, k - 40, 256));
    tone = std::max(tone, step(400, k, 401, k));  // the tone's own step
  }
  EXPECT_LE(across, tone + 1);
  EXPECT_LE(down, tone + 1);
}

// A balloon on a screened page: its lettering (strokes too short to be
// lines) is not the screen and keeps its pixels where no cell of it holds
// any of the screen; the screen around it goes.
TEST(Descreen, LeavesTheLetteringOfABalloonAsItIs) {
  DibImage page =
      test::MakeImage(512, 384, [](int32_t x, int32_t y) { return ScreenPixel(x, y, 0.4); });
  const DibRect balloon{160, 100, 384, 292};
  test::FillRect(page, balloon, kPaper);
  for (int32_t y = balloon.top + 12; y < balloon.bottom - 16; y += 14) {
    for (int32_t x = balloon.left + 12; x < balloon.right - 12; x += 9) {
      test::FillRect(page, {x, y, x + 2, y + 7}, kInk);                            // a stem
      if ((x + y) % 3 == 0) test::FillRect(page, {x, y + 3, x + 5, y + 5}, kInk);  // a bar
    }
  }
  const DibImage before = page;
  ASSERT_TRUE(Descreen(page, 100, 0).found);
  // Well inside the balloon, every pixel as it was.
  for (int32_t y = 160; y < 224; ++y) {
    for (int32_t x = 224; x < 288; ++x) {
      ASSERT_EQ(test::PixelAt(page, x, y).g, test::PixelAt(before, x, y).g) << x << "," << y;
    }
  }
  // The screen beside it is gone.
  const double f = 1 / (kScreenPeriod * std::sqrt(2.0));
  const DibRect beside{16, 120, 140, 260};
  EXPECT_GE(10 * std::log10(EnergyAt(before, beside, f, f) / EnergyAt(page, beside, f, f)), 20);
}

TEST(Descreen, LeavesPagesWithoutAScreenOrWithACoarseOne) {
  DibImage art = LineArt(320, 240);
  const DibImage before = art;
  EXPECT_FALSE(Descreen(art, 100, 0).found);
  EXPECT_EQ(art.PackedDib(), before.PackedDib());
  DibImage page = ScreenedArt(256, 256, {0, 0, 256, 256}, 0.3);
  const DibImage screened = page;
  EXPECT_FALSE(Descreen(page, 0, 0).found);
  const ScreenFound kept = Descreen(page, 100, 4);  // dots 6 pixels apart are art here
  EXPECT_TRUE(kept.found && kept.kept);
  EXPECT_EQ(page.PackedDib(), screened.PackedDib());
}

// Short strokes and dots of ink inside the screen (eyes, hatching, the
// lettering at a balloon's edge: too short to be lines) keep their ink and
// their length; the screen around them still goes.
TEST(Descreen, KeepsShortStrokesAndDotsInsideTheScreen) {
  struct Mark {
    int32_t x, y, w, h;  // across and down, pixels
  };
  const Mark marks[] = {{30, 30, 1, 4},  {70, 30, 1, 8},  {110, 30, 2, 12}, {150, 30, 3, 6},
                        {190, 30, 4, 1}, {230, 30, 8, 2}, {270, 30, 12, 3}, {30, 80, 6, 1},
                        {70, 80, 10, 2}, {110, 80, 2, 2}, {150, 80, 3, 3},  {190, 80, 2, 5},
                        {230, 80, 1, 1}, {270, 80, 5, 3}, {30, 120, 12, 1}, {70, 120, 3, 12}};
  DibImage page =
      test::MakeImage(320, 320, [](int32_t x, int32_t y) { return ScreenPixel(x, y, 0.4); });
  for (const Mark& m : marks) test::FillRect(page, {m.x, m.y, m.x + m.w, m.y + m.h}, kInk);
  const DibImage before = page;
  ASSERT_TRUE(Descreen(page, 100, 0).found);
  const double tone = MeanLevel(page, {40, 200, 280, 300});
  for (const Mark& m : marks) {
    // The darkest pixel of the mark, and the pixels along its middle still
    // closer to the ink than to the tone.
    int darkest = 255, inked = 0;
    const bool across = m.w >= m.h;
    for (int32_t y = m.y; y < m.y + m.h; ++y) {
      for (int32_t x = m.x; x < m.x + m.w; ++x) {
        const int v = test::PixelAt(page, x, y).g;
        darkest = std::min(darkest, v);
        const bool middle = across ? y == m.y + m.h / 2 : x == m.x + m.w / 2;
        inked += middle && v < (kInk.g + tone) / 2 ? 1 : 0;
      }
    }
    EXPECT_LE(darkest, kInk.g + 12) << m.w << " x " << m.h << " at " << m.x << "," << m.y;
    EXPECT_GE(inked, std::max(m.w, m.h) - 1) << m.w << " x " << m.h << " at " << m.x << "," << m.y;
  }
  const double f = 1 / (kScreenPeriod * std::sqrt(2.0));
  const DibRect clear{40, 170, 280, 300};
  EXPECT_GE(10 * std::log10(EnergyAt(before, clear, f, f) / EnergyAt(page, clear, f, f)), 20);
}

// ---- JPEG clean-up ----

// Flat 8 x 8 blocks a few levels apart (blocking), strokes across them
// (edges that ring), noise of `noise` levels on everything.
DibImage BlockyPage(int32_t w, int32_t h, int noise, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<int> level(static_cast<size_t>((w + 7) / 8) * static_cast<size_t>((h + 7) / 8));
  for (int& v : level) v = test::Uniform(rng, 0, 255);
  DibImage page = test::MakeImage(w, h, [&](int32_t x, int32_t y) {
    const int base = level[static_cast<size_t>(y / 8) * static_cast<size_t>((w + 7) / 8) +
                           static_cast<size_t>(x / 8)];
    const bool stroke = (x + 2 * y) % 29 < 2;
    const auto channel = [&](int shift) {
      const int v = (stroke ? 20 : base / 8 + 150 + shift) + test::Uniform(rng, -noise, noise);
      return static_cast<uint8_t>(std::clamp(v, 0, 255));
    };
    return Bgr{channel(0), channel(9), channel(-7)};
  });
  // Saturated corners: the smoothing's sums must clip at 0 and 255.
  test::FillRect(page, {0, 0, std::min(w, 8), std::min(h, 8)}, Bgr{255, 1, 254});
  return page;
}

// Where two pages of one size first differ ("" when nowhere).
std::string FirstDifference(const DibImage& a, const DibImage& b) {
  for (int32_t y = 0; y < a.Height(); ++y) {
    for (int32_t x = 0; x < a.Width() * 3; ++x) {
      if (a.Row(y)[x] != b.Row(y)[x]) {
        return testing::PrintToString(std::tuple{x / 3, y, x % 3, +a.Row(y)[x], +b.Row(y)[x]});
      }
    }
  }
  return "";
}

// The vector code (the widest the machine has, and SSE2 alone) gives the
// plain loops' bytes, on widths that end inside a vector, a pair of blocks
// and a block, over fine and coarse tables, with the quality-50 table
// assumed, and after its own output again.
TEST(JpegCleanup, VectorCodeGivesThePlainLoopsBytes) {
  int64_t smoothed = 0;
  for (const JpegCleanupPath path : {JpegCleanupPath::kFastest, JpegCleanupPath::kSse2}) {
    for (const int32_t w : {3, 5, 16, 17, 37, 64, 91, 203, 1000}) {
      for (const int quality : {0, 10, 30, 50, 90}) {
        SCOPED_TRACE(testing::Message()
                     << w << " wide, quality " << quality << ", path " << static_cast<int>(path));
        const JpegQuantisers q = StandardJpegQuantisers(quality);
        const JpegQuantisers* tables = quality == 0 ? nullptr : &q;
        DibImage fast =
            BlockyPage(w, 29 + w % 13, quality / 10, static_cast<uint32_t>(w + quality));
        DibImage plain = fast;
        for (int pass = 0; pass < 2; ++pass) {
          const JpegCleanupFound a = CleanJpegArtefacts(fast, tables, path);
          const JpegCleanupFound b = CleanJpegArtefacts(plain, tables, JpegCleanupPath::kPlain);
          ASSERT_EQ(FirstDifference(fast, plain), "") << "pass " << pass;
          EXPECT_EQ(a.smoothed, b.smoothed);
          smoothed += a.smoothed;
        }
      }
    }
  }
  EXPECT_GT(smoothed, 2000);  // the pages gave the smoothing work
}

// A colour page: a 45 degree dot screen of `period` over all but its top
// rows (each channel its own depth), ink lines across it, noise.
DibImage ColourScreen(int32_t w, int32_t h, double period) {
  std::mt19937 noise(static_cast<uint32_t>(w * 31 + h));
  const double k = 2 * 3.14159265358979 / (period * std::sqrt(2.0));
  return test::MakeImage(w, h, [&](int32_t x, int32_t y) {
    const bool line = x % 97 < 3 || (y + x / 3) % 89 < 2;
    double inked = 0;
    if (y >= 12) inked = 0.5 + 0.25 * (std::cos(k * (x + y)) + std::cos(k * (x - y))) > 0.6 ? 1 : 0;
    const auto channel = [&](double paper, double depth) {
      const double v = line ? 30 : paper - inked * depth + static_cast<double>(noise() % 9) - 4;
      return static_cast<uint8_t>(std::clamp(v, 0.0, 255.0));
    };
    return Bgr{channel(215, 120), channel(232, 170), channel(240, 60)};
  });
}

// Screens filtered in squares of one, two, three and four pixels, on pages whose
// sizes leave the vector loops tails to do.
TEST(Descreen, VectorLoopsGiveThePlainLoopsBytes) {
  for (const double period : {4.0, 6.0, 9.5, 13.0}) {
    for (const auto& [w, h] : {std::pair{203, 131}, std::pair{517, 300}}) {
      SCOPED_TRACE(testing::Message() << "period " << period << ", " << w << " x " << h);
      const DibImage page = ColourScreen(w, h, period);
      DibImage fast = page, plain = page;
      const ScreenFound a = Descreen(fast, 80, 0);
      const ScreenFound b = Descreen(plain, 80, 0, DescreenPath::kPlain);
      ASSERT_TRUE(a.found);
      EXPECT_NEAR(a.period, period, 0.3);
      EXPECT_EQ(a, b);
      EXPECT_NE(FirstDifference(fast, page), "");
      ASSERT_EQ(FirstDifference(fast, plain), "");
    }
  }
}

// ---- all three ----

// A page each step has work on: a dot screen over its left half, specks on
// its paper, small steps between flat blocks at its right.
DibImage WorkForEveryStep() {
  DibImage page = ScreenedArt(512, 256, {0, 0, 256, 256}, 0.4);
  for (int32_t x = 300; x < 500; x += 16)
    test::FillRect(page, {x, 30, x + 8, 62}, Bgr{244, 244, 244});
  for (int32_t x = 300; x < 500; x += 23) test::SetPixel(page, x, 200, kInk);
  return page;
}

// Through the pipeline: each step off (its slot 0, the default) reads no
// pixel and leaves the page byte for byte; the descreen's limit alone turns
// nothing on; each step on runs and changes the page.
TEST(RestoreSteps, EachOffLeavesThePageAndOnChangesIt) {
  struct Case {
    int slot, on;
    bool PageFindings::*ran;
  };
  const DibImage page = WorkForEveryStep();
  for (const Case c : {Case{kDespeckle, 4, &PageFindings::despeckleRan},
                       Case{kDescreen, 100, &PageFindings::descreenRan},
                       Case{kJpegCleanup, 1, &PageFindings::jpegCleanupRan}}) {
    SCOPED_TRACE(kParaSlots[c.slot].key);
    CParaBlock params;
    params.SetValue(kDescreenKeepDots, 8);
    DibImage off = page, second;
    PageFindings findings[2];
    PrepareSourcePages(params, off, second, findings);
    EXPECT_FALSE(findings[0].*c.ran);
    EXPECT_EQ(off.PackedDib(), page.PackedDib());
    params.SetValue(kDescreenKeepDots, 0);
    params.SetValue(c.slot, c.on);
    DibImage on = page;
    PrepareSourcePages(params, on, second, findings);
    EXPECT_TRUE(findings[0].*c.ran);
    EXPECT_NE(on.PackedDib(), page.PackedDib());
  }
}

// The widest page there is: each step works at its far right end too (no
// index wraps, nothing refused for its size; the descreen finds a screen
// that covers only the last 400 columns and filters only there).
TEST(RestoreSteps, EachWorksAtTheFarEndOfTheWidestPage) {
  constexpr int32_t kWidest = 65535;
  const auto changedIn = [](const DibImage& before, const DibImage& after, int32_t x0, int32_t x1) {
    int changed = 0;
    for (int32_t y = 0; y < before.Height(); ++y) {
      for (int32_t x = x0; x < x1; ++x) {
        changed += test::PixelAt(before, x, y).g != test::PixelAt(after, x, y).g ? 1 : 0;
      }
    }
    return changed;
  };
  struct Case {
    const char* step;
    int32_t height;
    std::function<void(DibImage&)> draw;
    std::function<bool(DibImage&)> run;
  };
  const Case cases[] = {
      {"despeckle", 24,
       [](DibImage& p) {
         test::FillRect(p, {kWidest - 6, 10, kWidest - 4, 12}, kInk);
       },
       [](DibImage& p) { return Despeckle(p, 4).dark == 1; }},
      {"JPEG clean-up", 24,
       [](DibImage& p) {
         test::FillRect(p, {kWidest - 7, 0, kWidest, 24}, Bgr{247, 247, 247});
       },
       [](DibImage& p) { return CleanJpegArtefacts(p, nullptr).smoothed > 0; }},
      {"descreen", 64,
       [](DibImage& p) {
         for (int32_t y = 0; y < p.Height(); ++y) {
           for (int32_t x = kWidest - 400; x < kWidest; ++x)
             test::SetPixel(p, x, y, ScreenPixel(x, y, 0.4));
         }
       },
       [](DibImage& p) {
         const ScreenFound found = Descreen(p, 100, 0);
         return found.found && std::abs(found.period - kScreenPeriod) < 0.3;
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.step);
    DibImage page = test::MakeFilled(kWidest, c.height, kPaper);
    c.draw(page);
    const DibImage before = page;
    ASSERT_TRUE(c.run(page));
    EXPECT_GT(changedIn(before, page, kWidest - 400, kWidest), 0);
    EXPECT_EQ(changedIn(before, page, 1000, kWidest - 1000), 0);  // far from the work
  }
}

}  // namespace
}  // namespace inkbrite
