// SPDX-License-Identifier: GPL-2.0-or-later
// Cost of the automatic clean-up steps on a 1700 x 2400 scanned page, side
// by side with the W1 work (brightness 110, contrast 120, gamma 90).
#include <cmath>

#include "bench/bench_support.h"
#include "core/auto_levels.h"
#include "core/deskew.h"
#include "core/enhance.h"
#include "core/margin_crop.h"
#include "core/spread_split.h"
#include "core/tone.h"

namespace {

using inkbrite::CParaBlock;
using inkbrite::DibImage;
namespace b = inkbrite::bench;

// A scan as the steps meet it: the standard page's textured content framed
// into panels inside margins of paper, its tones squeezed into 40 to 215 (a
// washed-out scan) and the whole turned by 1.2 degrees.
DibImage ScanPage() {
  DibImage page = b::MakePage(true);
  const int w = page.Width();
  const int h = page.Height();
  auto fill = [&](int x0, int y0, int x1, int y1, uint8_t v) {
    for (int y = y0; y < y1; ++y) {
      uint8_t* p = page.Row(y) + 3 * x0;
      for (int i = 0; i < 3 * (x1 - x0); ++i) p[i] = v;
    }
  };
  const int mx = 110;
  const int my = 140;
  fill(0, 0, w, my, 250);
  fill(0, h - my, w, h, 250);
  fill(0, 0, mx, h, 250);
  fill(w - mx, 0, w, h, 250);
  for (int tier = 0; tier < 3; ++tier) {  // frames of 3 x 2 panels, 24 pixels apart
    const int top = my + tier * (h - 2 * my) / 3;
    const int bottom = my + (tier + 1) * (h - 2 * my) / 3;
    fill(mx, top, w - mx, top + 6, 10);
    fill(mx, bottom - 6, w - mx, bottom, 10);
    fill(mx, top, mx + 6, bottom, 10);
    fill(w - mx - 6, top, w - mx, bottom, 10);
    fill(w / 2 - 12, top, w / 2 + 12, bottom, 250);
    if (tier < 2) fill(mx, bottom - 12, w - mx, bottom, 250);
  }
  std::array<uint8_t, 256> squeeze;
  for (int v = 0; v < 256; ++v)
    squeeze[static_cast<size_t>(v)] = static_cast<uint8_t>(40 + v * 175 / 255);
  inkbrite::MapPixelBytes(page, squeeze);
  inkbrite::RotateImage(page, 1.2, {218, 218, 218});
  return page;
}

const DibImage& Scan() {
  static const DibImage page = ScanPage();
  return page;
}

void W1(CParaBlock& params) {
  params.SetValue(inkbrite::kBrightness, 110);
  params.SetValue(inkbrite::kContrast, 120);
  params.SetValue(inkbrite::kGamma, 90);
}

}  // namespace

int main(int argc, char** argv) {
  inkbrite::BuildToneTables();
  b::RegisterCopy();
  b::Register("W1 enhance", [](benchmark::State& s) {
    static CParaBlock params;
    W1(params);
    b::RunOnPage(s, Scan(),
                 [](DibImage& page) { return inkbrite::EnhanceImage(params, page) == 0; });
  });
  b::Register("find levels", [](benchmark::State& s) {
    b::RunOnPage(s, Scan(),
                 [](DibImage& page) { return inkbrite::FindAutoLevels(page, {}).applied; });
  });
  b::Register("auto levels", [](benchmark::State& s) {
    b::RunOnPage(s, Scan(), [](DibImage& page) { return inkbrite::AutoLevels(page, {}).applied; });
  });
  b::Register("find crop", [](benchmark::State& s) {
    b::RunOnPage(s, Scan(),
                 [](DibImage& page) { return inkbrite::FindMarginCrop(page, {}).applied; });
  });
  b::Register("margin crop", [](benchmark::State& s) {
    b::RunOnPage(s, Scan(), [](DibImage& page) { return inkbrite::MarginCrop(page, {}).applied; });
  });
  b::Register("find spread (landscape)", [](benchmark::State& s) {
    static DibImage landscape = [] {
      DibImage p = Scan();
      p.Rotate90(true);
      return p;
    }();
    b::RunOnPage(s, landscape, [](DibImage& page) { return inkbrite::FindSpread(page).split; });
  });
  b::Register("find skew", [](benchmark::State& s) {
    b::RunOnPage(s, Scan(), [](DibImage& page) {
      return std::fabs(inkbrite::FindSkew(page, {}).angle - 1.2) < 0.1;
    });
  });
  b::Register("rotate", [](benchmark::State& s) {
    b::RunOnPage(s, Scan(), [](DibImage& page) {
      return inkbrite::RotateImage(page, -1.2, {250, 250, 250});
    });
  });
  b::RatioReporter reporter(100.0);
  return b::RunAll(argc, argv, reporter);
}
