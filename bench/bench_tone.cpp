// SPDX-License-Identifier: GPL-2.0-or-later
// Speed of the tone operations on a full comic page, measured against a
// plain copy of the same pixel bytes. Targets: each operation within 4 times
// the copy, i.e. one table lookup per byte at close to memory speed, and the
// pipeline's one pass over all five steps (TonePass) within 1.5 times on the
// scan-like page.
//
// Every operation starts each iteration from the same page (restored outside
// the timed region), so repeated runs never saturate it to one colour. The
// single operations run on the noise page; the pass runs on the scan-like
// page and, for information, on the noise page, where no run of paper or
// ink lets the highlight test use one table for a group of pixels.
// "avx2" and "portable" rows show the loops used on processors without
// AVX-512 VBMI or without any vector instructions. The "grey" rows are the
// pass over a page of grey levels (a one-component scan inside: one lookup
// a pixel), measured against a copy of that page's bytes.
#include <map>
#include <string>

#include "bench/bench_support.h"
#include "core/tone.h"

namespace {

using inkbrite::DibImage;
using inkbrite::ToneSettings;
namespace b = inkbrite::bench;

struct ToneCase {
  const char* name;
  bool (*op)(DibImage&);
};

const ToneCase kToneCases[] = {
    {"Brightness(150)", [](DibImage& i) { return i.Brightness(150); }},
    {"Contrast(150)", [](DibImage& i) { return i.Contrast(150); }},
    {"Gamma(150)", [](DibImage& i) { return i.Gamma(150); }},
    {"Highlight(150,190)", [](DibImage& i) { return i.Highlight(150, 190); }},
    {"Curve(0,-39,60,293)", [](DibImage& i) { return i.Curve(0, -39, 60, 293); }},
};

// The pipeline's tone with every step on (the typical comic set of
// bench_enhance), and the three steps of the peer benchmark's W1.
ToneSettings AllFive() {
  ToneSettings s;
  s.curveX1 = 195;
  s.curveY1 = -39;
  s.curveX2 = 60;
  s.curveY2 = 293;
  s.brightness = 110;
  s.highlightGain = 150;
  s.contrast = 120;
  s.gamma = 90;
  return s;
}

ToneSettings W1Tone() {
  ToneSettings s;
  s.brightness = 110;
  s.contrast = 120;
  s.gamma = 90;
  return s;
}

struct PassCase {
  const char* name;
  ToneSettings (*settings)();
  const DibImage& (*page)();
  double target;  // x copy
};

const PassCase kPassCases[] = {
    {"TonePass(all five)", AllFive, b::ScanPage, 1.5},
    {"TonePass(110,120,90)", W1Tone, b::ScanPage, 1.5},
    {"TonePass(all five) noise", AllFive, b::NoisePage, 4.0},
};

// The grey pass: one table, a pixel a byte.
const PassCase kGreyCases[] = {
    {"TonePass grey(all five)", AllFive, b::GreyNoisePage, 1.5},
    {"TonePass grey(110,120,90)", W1Tone, b::GreyNoisePage, 1.5},
};

template <typename Fn>
void WithKernels(benchmark::State& state, inkbrite::ToneLoops loops, Fn run) {
  const inkbrite::ToneLoops previous = inkbrite::LimitToneLoops(loops);
  run(state);
  inkbrite::LimitToneLoops(previous);
}

void RegisterPass(const PassCase& c, inkbrite::ToneLoops loops, const std::string& suffix) {
  b::Register(c.name + suffix, [c, loops](benchmark::State& s) {
    WithKernels(s, loops, [&](benchmark::State& st) {
      const inkbrite::TonePass pass(c.settings());
      b::RunOnPage(st, c.page(), [&pass](DibImage& i) { return pass.Apply(i); });
    });
  });
}

void RegisterAll(inkbrite::ToneLoops loops, const std::string& suffix,
                 std::map<std::string, double>& targets,
                 std::map<std::string, std::string>& yardsticks) {
  for (const ToneCase& c : kToneCases) {
    b::Register(c.name + suffix, [c, loops](benchmark::State& s) {
      WithKernels(s, loops, [&](benchmark::State& st) { b::RunOnPage(st, b::NoisePage(), c.op); });
    });
  }
  for (const PassCase& c : kPassCases) {
    RegisterPass(c, loops, suffix);
    if (suffix.empty()) targets[c.name] = c.target;
  }
  for (const PassCase& c : kGreyCases) {
    RegisterPass(c, loops, suffix);
    yardsticks[c.name + suffix] = b::kGreyCopyName;
    if (suffix.empty()) targets[c.name] = c.target;
  }
}

}  // namespace

int main(int argc, char** argv) {
  inkbrite::BuildToneTables();
  b::RegisterCopy();
  b::RegisterGreyCopy();
  std::map<std::string, double> targets;
  std::map<std::string, std::string> yardsticks;
  using inkbrite::ToneLoops;
  const ToneLoops fastest = inkbrite::FastestToneLoops();
  RegisterAll(fastest, "", targets, yardsticks);
  if (fastest > ToneLoops::kAvx2) RegisterAll(ToneLoops::kAvx2, " avx2", targets, yardsticks);
  if (fastest > ToneLoops::kPortable) {
    RegisterAll(ToneLoops::kPortable, " portable", targets, yardsticks);
  }
  b::RatioReporter reporter(4.0, targets, yardsticks);
  return b::RunAll(argc, argv, reporter);
}
