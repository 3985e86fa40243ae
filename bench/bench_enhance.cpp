// SPDX-License-Identifier: GPL-2.0-or-later
// Speed of the whole enhancement pipeline on a comic page with a typical
// set of parameters, against a plain copy of the page's bytes. Target: within
// 25 times the copy.
#include "bench/bench_support.h"
#include "core/enhance.h"
#include "core/tone.h"

namespace {

using inkbrite::CParaBlock;
using inkbrite::DibImage;
namespace b = inkbrite::bench;

// The curve preset for busy backgrounds, a little brighter, highlights lifted,
// more contrast, gamma 0.9, sharpen level 3.
void TypicalComicSet(CParaBlock& params) {
  params.SetValue(inkbrite::kCurveX1, 195);
  params.SetValue(inkbrite::kCurveY1, -39);
  params.SetValue(inkbrite::kCurveX2, 60);
  params.SetValue(inkbrite::kCurveY2, 293);
  params.SetValue(inkbrite::kBrightness, 110);
  params.SetValue(inkbrite::kHighlight, 150);
  params.SetValue(inkbrite::kThreshold, 190);
  params.SetValue(inkbrite::kContrast, 120);
  params.SetValue(inkbrite::kGamma, 90);
  params.SetValue(inkbrite::kSharpen, 3);
}

}  // namespace

int main(int argc, char** argv) {
  inkbrite::BuildToneTables();
  static const DibImage scan = b::MakePage(true);
  b::RegisterCopy();
  b::Register("EnhanceImage typical set", [](benchmark::State& s) {
    static CParaBlock params;
    TypicalComicSet(params);
    b::RunOnPage(s, scan, [](DibImage& page) { return inkbrite::EnhanceImage(params, page) == 0; });
  });
  b::Register("EnhanceImage typical set, 256 colours", [](benchmark::State& s) {
    static CParaBlock params;
    TypicalComicSet(params);
    params.SetValue(inkbrite::kGreyScale, 3);
    b::RunOnPage(s, scan, [](DibImage& page) { return inkbrite::EnhanceImage(params, page) == 0; });
  });
  // The typical set has a target of 25 times the copy; the 256-colour run
  // is shown for information (the octree quantiser dominates it).
  b::RatioReporter reporter(25.0, {{"EnhanceImage typical set, 256 colours", 300.0}});
  return b::RunAll(argc, argv, reporter);
}
